#include "faulty_file_system.h"

namespace testing_support {

using maintenance::FileStatus;

const char* FaultyFileSystem::name(Call call) {
    switch (call) {
    case Call::Status: return "status";
    case Call::LinkStatus: return "linkStatus";
    case Call::ListFolder: return "listFolder";
    case Call::CanWriteFolder: return "canWriteFolder";
    case Call::MakeFolder: return "makeFolder";
    case Call::OpenForReading: return "openForReading";
    case Call::CreateNew: return "createNew";
    case Call::OpenFolder: return "openFolder";
    case Call::Read: return "read";
    case Call::Write: return "write";
    case Call::HandleStatus: return "handleStatus";
    case Call::Flush: return "flush";
    case Call::Close: return "close";
    case Call::LockedByOther: return "lockedByOther";
    case Call::RemoveFile: return "removeFile";
    case Call::MoveNoReplace: return "moveNoReplace";
    case Call::MoveReplacing: return "moveReplacing";
    case Call::FreeSpace: return "freeSpace";
    }
    return "?";
}

void FaultyFileSystem::failCall(long ordinal, int errnoValue) {
    rule_ = [ordinal, errnoValue](long n, Call, const std::string&) { return n == ordinal ? errnoValue : 0; };
}

void FaultyFileSystem::failFromCall(long ordinal, int errnoValue) {
    rule_ = [ordinal, errnoValue](long n, Call, const std::string&) { return n >= ordinal ? errnoValue : 0; };
}

void FaultyFileSystem::failWhen(Call call, const std::string& path, int errnoValue) {
    rule_ = [call, path, errnoValue](long, Call c, const std::string& p) {
        return c == call && p == path ? errnoValue : 0;
    };
}

int FaultyFileSystem::gate(Call call, const std::string& path, const std::string& target) {
    ++ordinal_;
    log_.push_back(std::string(name(call)) + " " + path + (target.empty() ? std::string() : " -> " + target));
    return rule_ ? rule_(ordinal_, call, path) : 0;
}

std::string FaultyFileSystem::pathOf(int handle) const {
    const auto found = handles_.find(handle);
    return found == handles_.end() ? std::string("?") : found->second;
}

int FaultyFileSystem::status(const std::string& path, FileStatus& out) {
    if (const int e = gate(Call::Status, path)) return e;
    return real_.status(path, out);
}

int FaultyFileSystem::linkStatus(const std::string& path, FileStatus& out) {
    if (const int e = gate(Call::LinkStatus, path)) return e;
    return real_.linkStatus(path, out);
}

int FaultyFileSystem::listFolder(const std::string& folder, std::vector<std::string>& names) {
    if (const int e = gate(Call::ListFolder, folder)) return e;
    return real_.listFolder(folder, names);
}

int FaultyFileSystem::canWriteFolder(const std::string& folder) {
    if (const int e = gate(Call::CanWriteFolder, folder)) return e;
    return real_.canWriteFolder(folder);
}

int FaultyFileSystem::makeFolder(const std::string& folder) {
    if (const int e = gate(Call::MakeFolder, folder)) return e;
    return real_.makeFolder(folder);
}

int FaultyFileSystem::openForReading(const std::string& path, int& handle) {
    if (const int e = gate(Call::OpenForReading, path)) return e;
    const int error = real_.openForReading(path, handle);
    if (error == 0) handles_[handle] = path;
    return error;
}

int FaultyFileSystem::createNew(const std::string& path, std::uint32_t mode, int& handle) {
    if (const int e = gate(Call::CreateNew, path)) return e;
    const int error = real_.createNew(path, mode, handle);
    if (error == 0) handles_[handle] = path;
    return error;
}

int FaultyFileSystem::openFolder(const std::string& folder, int& handle) {
    if (const int e = gate(Call::OpenFolder, folder)) return e;
    const int error = real_.openFolder(folder, handle);
    if (error == 0) handles_[handle] = folder;
    return error;
}

int FaultyFileSystem::read(int handle, std::span<char> buffer, std::size_t& count) {
    if (const int e = gate(Call::Read, pathOf(handle))) return e;
    return real_.read(handle, buffer, count);
}

int FaultyFileSystem::write(int handle, std::span<const char> data, std::size_t& count) {
    if (const int e = gate(Call::Write, pathOf(handle))) return e;
    return real_.write(handle, data, count);
}

int FaultyFileSystem::handleStatus(int handle, FileStatus& out) {
    if (const int e = gate(Call::HandleStatus, pathOf(handle))) return e;
    return real_.handleStatus(handle, out);
}

int FaultyFileSystem::freeSpace(const std::string& folder, std::uint64_t& bytes) {
    if (const int e = gate(Call::FreeSpace, folder)) return e;
    const auto reported = freeSpace_.find(folder);
    if (reported != freeSpace_.end()) {
        bytes = reported->second;
        return 0;
    }
    return real_.freeSpace(folder, bytes);
}

// Not gated: the files' bytes and names do not depend on these.
int FaultyFileSystem::readAttributes(int handle, maintenance::FileAttributes& out) {
    return real_.readAttributes(handle, out);
}
void FaultyFileSystem::giveAttributes(int handle, const maintenance::FileAttributes& attributes) {
    real_.giveAttributes(handle, attributes);
}
int FaultyFileSystem::changeMode(int handle, std::uint32_t mode) { return real_.changeMode(handle, mode); }

int FaultyFileSystem::flush(int handle) {
    // Logged, not carried out: no test can pull the power, and thousands of
    // real flushes would make the sweeps crawl.
    return gate(Call::Flush, pathOf(handle));
}

int FaultyFileSystem::close(int handle) {
    // A failed close still releases the handle, as close(2) does.
    const int injected = gate(Call::Close, pathOf(handle));
    handles_.erase(handle);
    const int error = real_.close(handle);
    return injected != 0 ? injected : error;
}

int FaultyFileSystem::lockedByOther(int handle, bool& locked) {
    if (const int e = gate(Call::LockedByOther, pathOf(handle))) return e;
    return real_.lockedByOther(handle, locked);
}

int FaultyFileSystem::removeFile(const std::string& path) {
    if (const int e = gate(Call::RemoveFile, path)) return e;
    return real_.removeFile(path);
}

int FaultyFileSystem::moveNoReplace(const std::string& from, const std::string& to) {
    if (const int e = gate(Call::MoveNoReplace, from, to)) return e;
    return real_.moveNoReplace(from, to);
}

int FaultyFileSystem::moveReplacing(const std::string& from, const std::string& to) {
    if (const int e = gate(Call::MoveReplacing, from, to)) return e;
    return real_.moveReplacing(from, to);
}

}  // namespace testing_support
