#include "working_files.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "file_error.h"
#include "jet_lock_files.h"
#include "path_parts.h"
#include "wildcard_pattern.h"

namespace maintenance {
namespace {

constexpr std::size_t kChunk = 1 << 20;
constexpr std::size_t kMaxTextSize = 64 * 1024;
constexpr int kTemporaryNameTries = 100;

// Closes its handle on every way out, ignoring the result; close() reports it.
class OpenHandle {
public:
    explicit OpenHandle(FileSystem& fs) : fs_(fs) {}
    OpenHandle(const OpenHandle&) = delete;
    OpenHandle& operator=(const OpenHandle&) = delete;
    ~OpenHandle() {
        if (handle >= 0) (void)fs_.close(handle);
    }
    int close() {
        const int h = std::exchange(handle, -1);
        return fs_.close(h);
    }
    int handle = -1;

private:
    FileSystem& fs_;
};

[[noreturn]] void fail(int errnoValue, const std::string& action) {
    throw FileError::fromErrno(errnoValue, action);
}

bool isHidden(const std::string& name) { return name.empty() || name.front() == '.'; }

// Reads until `buffer` is full or the file ends.
int readFully(FileSystem& fs, int handle, std::vector<char>& buffer, std::size_t& filled) {
    filled = 0;
    while (filled < buffer.size()) {
        std::size_t got = 0;
        const int error = fs.read(handle, std::span<char>(buffer.data() + filled, buffer.size() - filled), got);
        if (error != 0) return error;
        if (got == 0) break;
        filled += got;
    }
    return 0;
}

int writeFully(FileSystem& fs, int handle, const char* data, std::size_t size) {
    std::size_t written = 0;
    while (written < size) {
        std::size_t put = 0;
        const int error = fs.write(handle, std::span<const char>(data + written, size - written), put);
        if (error != 0) return error;
        if (put == 0) return EIO;
        written += put;
    }
    return 0;
}

}  // namespace

WorkingFiles::WorkingFiles(std::shared_ptr<FileSystem> fileSystem) : fs_(std::move(fileSystem)) {}

bool WorkingFiles::isPresent(const std::string& path) { return !filesMatching(path).empty(); }

std::uint64_t WorkingFiles::freeSpace(const std::string& folder) {
    std::uint64_t bytes = 0;
    const int error = fs_->freeSpace(folder, bytes);
    if (error != 0) fail(error, "Não foi possível ver o espaço livre em " + folder);
    return bytes;
}

bool WorkingFiles::sameFileSystem(const std::string& first, const std::string& second) {
    const std::string action = "Não foi possível procurar " + first + " e " + second;
    FileStatus sa;
    FileStatus sb;
    int error = fs_->status(first, sa);
    if (error == 0) error = fs_->status(second, sb);
    if (error != 0) fail(error, action);
    return sa.device == sb.device;
}

std::uint64_t WorkingFiles::sizeOf(const std::string& path) {
    FileStatus st;
    const int error = fs_->status(path, st);
    if (error != 0) fail(error, "Não foi possível procurar " + path);
    return st.size;
}

bool WorkingFiles::isVacant(const std::string& path) {
    if (path.find('\0') != std::string::npos) fail(EINVAL, "Não foi possível procurar " + path);
    FileStatus st;
    const int error = fs_->linkStatus(path, st);
    if (error == ENOENT) return true;
    if (error != 0) fail(error, "Não foi possível procurar " + path);
    return false;
}

std::vector<std::string> WorkingFiles::filesMatching(const std::string& path) {
    const std::string action = "Não foi possível procurar " + path;
    if (path.find('\0') != std::string::npos) fail(EINVAL, action);
    const std::string name = lastElement(path);
    if (!hasWildcard(name)) {
        if (isOrdinaryVisibleFile(path, name, action.c_str())) return {path};
        return {};
    }
    // Wildcards count only in the last element, as in a directory-listing lookup.
    const std::string folder = parentFolder(path);
    if (hasWildcard(folder)) fail(EINVAL, action);
    std::vector<std::string> names;
    const int error = fs_->listFolder(folder, names);
    if (error == ENOENT || error == ENOTDIR) return {};
    if (error != 0) fail(error, action);
    std::sort(names.begin(), names.end());
    const std::string prefix = path.substr(0, path.size() - name.size());
    std::vector<std::string> matches;
    for (const std::string& entry : names) {
        if (isHidden(entry) || !matchesWildcard(name, entry)) continue;
        const std::string candidate = prefix + entry;
        if (isOrdinaryVisibleFile(candidate, entry, nullptr)) matches.push_back(candidate);
    }
    return matches;
}

bool WorkingFiles::isOrdinaryVisibleFile(const std::string& path, const std::string& name, const char* action) {
    FileStatus st;
    const int error = fs_->status(path, st);
    if (error == ENOENT || error == ENOTDIR) return false;
    if (error != 0) {
        if (action == nullptr) return false;  // an entry that vanished or cannot be read: no match
        fail(error, action);
    }
    return st.kind == FileStatus::Kind::Regular && !isHidden(name);
}

void WorkingFiles::refuseIfLocked(const std::string& path, const std::string& action) {
    std::vector<std::string> candidates{path};
    for (std::string& lockFile : jetLockFiles(path)) candidates.push_back(std::move(lockFile));
    for (const std::string& candidate : candidates) {
        // Only regular files are opened: opening a pipe for reading would wait.
        // A file that cannot be probed does not block; the operation itself
        // reports what is wrong with the database.
        FileStatus st;
        if (fs_->status(candidate, st) != 0 || st.kind != FileStatus::Kind::Regular) continue;
        OpenHandle probe(*fs_);
        if (fs_->openForReading(candidate, probe.handle) != 0) continue;
        bool locked = false;
        if (fs_->lockedByOther(probe.handle, locked) != 0 || !locked) continue;
        if (candidate == path) {
            throw FileError(EBUSY, action + ": o arquivo está bloqueado por outro programa");
        }
        throw FileError(EBUSY, action + ": o arquivo de bloqueio " + candidate + " está bloqueado por outro programa");
    }
}

void WorkingFiles::flushFolder(const std::string& folder, const std::string& action) {
    OpenHandle dir(*fs_);
    int error = fs_->openFolder(folder, dir.handle);
    if (error != 0) fail(error, action);
    error = fs_->flush(dir.handle);
    // Some file systems cannot flush a folder at all; their entries are as
    // durable as they get.
    if (error != 0 && error != EINVAL) fail(error, action);
}

std::string WorkingFiles::temporaryStem(const std::string& destination) {
    return joinPath(parentFolder(destination),
                    "." + lastElement(destination) + ".parcial-" + std::to_string(::getpid()) + "-");
}

int WorkingFiles::createTemporary(const std::string& destination, std::uint32_t mode, std::string& temporary,
                                  int& handle) {
    // Hidden, so neither the existence test nor a wildcard ever finds it.
    const std::string stem = temporaryStem(destination);
    int error = EEXIST;
    for (int attempt = 0; attempt < kTemporaryNameTries && error == EEXIST; ++attempt) {
        temporary = stem + std::to_string(++temporaryCounter_);
        error = fs_->createNew(temporary, mode, handle);
    }
    return error;
}

void WorkingFiles::removePartialCopies(const std::string& folder, const std::string& name) {
    std::vector<std::string> names;
    if (fs_->listFolder(folder, names) != 0) return;
    const std::string prefix = "." + name + ".parcial-";
    for (const std::string& entry : names) {
        if (entry.rfind(prefix, 0) == 0) (void)fs_->removeFile(joinPath(folder, entry));
    }
}

void WorkingFiles::openRegular(const std::string& path, int& handle, FileStatus& opened, const std::string& action) {
    FileStatus st;
    int error = fs_->status(path, st);
    if (error != 0) fail(error, action);
    if (st.kind == FileStatus::Kind::Directory) fail(EISDIR, action);
    // Opening a pipe for reading would wait for a writer.
    if (st.kind != FileStatus::Kind::Regular) fail(EINVAL, action);
    error = fs_->openForReading(path, handle);
    if (error != 0) fail(error, action);
    error = fs_->handleStatus(handle, opened);
    if (error != 0) fail(error, action);
    if (opened.kind != FileStatus::Kind::Regular) fail(EINVAL, action);
}

std::string WorkingFiles::copyToTemporary(const std::string& source, const std::string& destination,
                                          const std::string& action, const FileAttributes* attributes) {
    OpenHandle in(*fs_);
    FileStatus opened;
    openRegular(source, in.handle, opened, action);
    int error = 0;

    std::string temporary;
    OpenHandle out(*fs_);
    // Private while it is written; it gets the attributes it is meant to have
    // once its bytes are in.
    error = createTemporary(destination, opened.mode & 0600, temporary, out.handle);
    if (error != 0) fail(error, action);
    try {
        // The kernel copies without bringing the bytes through this process when it
        // can; whatever it did not copy is then read and written from where it stopped.
        for (;;) {
            std::size_t copied = 0;
            error = fs_->copyRange(in.handle, out.handle, kChunk * 16, copied);
            if (error == ENOSYS) break;
            if (error != 0) fail(error, action);
            if (copied == 0) break;
        }
        std::vector<char> buffer(kChunk);
        for (;;) {
            std::size_t got = 0;
            error = readFully(*fs_, in.handle, buffer, got);
            if (error != 0) fail(error, action);
            if (got == 0) break;
            error = writeFully(*fs_, out.handle, buffer.data(), got);
            if (error != 0) fail(error, action);
        }
        if (attributes != nullptr) fs_->giveAttributes(out.handle, *attributes);
        error = fs_->flush(out.handle);
        if (error != 0) fail(error, action);
        error = out.close();
        if (error != 0) fail(error, action);
    } catch (...) {
        if (out.handle >= 0) (void)out.close();
        (void)fs_->removeFile(temporary);
        throw;
    }
    return temporary;
}

void WorkingFiles::remove(const std::string& path) {
    const std::string action = "Não foi possível apagar " + path;
    FileStatus st;
    int error = fs_->linkStatus(path, st);
    if (error != 0) fail(error, action);
    if (st.kind == FileStatus::Kind::Directory) fail(EISDIR, action);
    refuseIfLocked(path, action);
    error = fs_->removeFile(path);
    if (error != 0) fail(error, action);
    flushFolder(parentFolder(path), action);
}

void WorkingFiles::copy(const std::string& source, const std::string& destination) {
    copyWith(source, destination, nullptr);
}

void WorkingFiles::copy(const std::string& source, const std::string& destination, const FileAttributes& attributes) {
    copyWith(source, destination, &attributes);
}

void WorkingFiles::copyWith(const std::string& source, const std::string& destination,
                            const FileAttributes* attributes) {
    const std::string action = "Não foi possível copiar " + source + " para " + destination;
    refuseIfLocked(source, action);
    const std::string temporary = copyToTemporary(source, destination, action, attributes);
    const int error = fs_->moveReplacing(temporary, destination);
    if (error != 0) {
        (void)fs_->removeFile(temporary);
        fail(error, action);
    }
    flushFolder(parentFolder(destination), action);
}

void WorkingFiles::rename(const std::string& from, const std::string& to) {
    const std::string action = "Não foi possível mover " + from + " para " + to;
    FileStatus st;
    int error = fs_->linkStatus(from, st);
    if (error != 0) fail(error, action);
    refuseIfLocked(from, action);
    error = fs_->moveNoReplace(from, to);
    if (error == EXDEV) {
        moveAcrossFileSystems(from, to, action);
        return;
    }
    if (error != 0) fail(error, action);
    flushFolder(parentFolder(to), action);
    if (parentFolder(from) != parentFolder(to)) flushFolder(parentFolder(from), action);
}

void WorkingFiles::rename(const std::string& from, const std::string& to, const FileAttributes& attributes) {
    const std::string action = "Não foi possível mover " + from + " para " + to;
    FileStatus st;
    int error = fs_->linkStatus(from, st);
    if (error != 0) fail(error, action);
    FileStatus existing;
    if (fs_->linkStatus(to, existing) == 0) fail(EEXIST, action);
    refuseIfLocked(from, action);
    // Hidden, like a partial copy, so that a crash leaves nothing at a name anyone looks at.
    std::string temporary;
    error = EEXIST;
    for (int attempt = 0; attempt < kTemporaryNameTries && error == EEXIST; ++attempt) {
        temporary = temporaryStem(to) + std::to_string(++temporaryCounter_);
        error = fs_->moveNoReplace(from, temporary);
    }
    if (error == EXDEV) {
        const std::string copied = copyToTemporary(from, to, action, &attributes);
        error = fs_->moveNoReplace(copied, to);
        if (error != 0) {
            (void)fs_->removeFile(copied);
            fail(error, action);
        }
        flushFolder(parentFolder(to), action);
        error = fs_->removeFile(from);
        if (error != 0) {
            (void)fs_->removeFile(to);
            fail(error, action);
        }
        flushFolder(parentFolder(from), action);
        return;
    }
    if (error != 0) fail(error, action);
    try {
        giveAttributes(temporary, attributes);
        error = fs_->moveNoReplace(temporary, to);
        if (error != 0) fail(error, action);
    } catch (...) {
        (void)fs_->moveNoReplace(temporary, from);  // back where it was found
        throw;
    }
    flushFolder(parentFolder(to), action);
    if (parentFolder(from) != parentFolder(to)) flushFolder(parentFolder(from), action);
}

void WorkingFiles::moveAcrossFileSystems(const std::string& from, const std::string& to, const std::string& action) {
    // Copy, flush, then delete: at every moment the file is complete at one of
    // the two names, and the move either happens whole or not at all.
    FileStatus existing;
    if (fs_->linkStatus(to, existing) == 0) fail(EEXIST, action);
    const FileAttributes kept = attributes(from);
    const std::string temporary = copyToTemporary(from, to, action, &kept);
    int error = fs_->moveNoReplace(temporary, to);
    if (error != 0) {
        (void)fs_->removeFile(temporary);
        fail(error, action);
    }
    try {
        flushFolder(parentFolder(to), action);
    } catch (...) {
        (void)fs_->removeFile(to);
        throw;
    }
    error = fs_->removeFile(from);
    if (error != 0) {
        (void)fs_->removeFile(to);
        try {
            flushFolder(parentFolder(to), action);
        } catch (const FileError&) {
            // The source is still whole; the copy's removal is what failed to stick.
        }
        fail(error, action);
    }
    flushFolder(parentFolder(from), action);
}

FileAttributes WorkingFiles::attributes(const std::string& path) {
    const std::string action = "Não foi possível ler as permissões de " + path;
    OpenHandle in(*fs_);
    FileStatus opened;
    openRegular(path, in.handle, opened, action);
    FileAttributes result;
    const int error = fs_->readAttributes(in.handle, result);
    if (error != 0) fail(error, action);
    return result;
}

void WorkingFiles::giveAttributes(const std::string& path, const FileAttributes& attributes) {
    const std::string action = "Não foi possível dar as permissões a " + path;
    OpenHandle in(*fs_);
    FileStatus opened;
    openRegular(path, in.handle, opened, action);
    fs_->giveAttributes(in.handle, attributes);
    int error = fs_->flush(in.handle);
    if (error == 0) error = in.close();
    if (error != 0) fail(error, action);
}

void WorkingFiles::makePrivate(const std::string& path) {
    const std::string action = "Não foi possível restringir as permissões de " + path;
    OpenHandle in(*fs_);
    FileStatus opened;
    openRegular(path, in.handle, opened, action);
    if (opened.links != 1 || (opened.mode & 077) == 0) return;
    const int error = fs_->changeMode(in.handle, opened.mode & ~std::uint32_t{077});
    if (error != 0) fail(error, action);
}

bool WorkingFiles::sameContents(const std::string& first, const std::string& second) {
    const std::string action = "Não foi possível comparar " + first + " com " + second;
    OpenHandle a(*fs_);
    OpenHandle b(*fs_);
    int error = fs_->openForReading(first, a.handle);
    if (error != 0) fail(error, action);
    error = fs_->openForReading(second, b.handle);
    if (error != 0) fail(error, action);
    FileStatus sa;
    FileStatus sb;
    error = fs_->handleStatus(a.handle, sa);
    if (error == 0) error = fs_->handleStatus(b.handle, sb);
    if (error != 0) fail(error, action);
    if (sa.kind != FileStatus::Kind::Regular || sb.kind != FileStatus::Kind::Regular) fail(EINVAL, action);
    if (sa.size != sb.size) return false;
    std::vector<char> bufferA(kChunk);
    std::vector<char> bufferB(kChunk);
    for (;;) {
        std::size_t gotA = 0;
        std::size_t gotB = 0;
        error = readFully(*fs_, a.handle, bufferA, gotA);
        if (error == 0) error = readFully(*fs_, b.handle, bufferB, gotB);
        if (error != 0) fail(error, action);
        if (gotA != gotB || !std::equal(bufferA.begin(), bufferA.begin() + static_cast<std::ptrdiff_t>(gotA),
                                        bufferB.begin())) {
            return false;
        }
        if (gotA == 0) return true;
    }
}

bool WorkingFiles::sameFile(const std::string& first, const std::string& second) {
    const std::string action = "Não foi possível procurar " + first + " e " + second;
    FileStatus sa;
    FileStatus sb;
    int error = fs_->status(first, sa);
    if (error == ENOENT || error == ENOTDIR) return false;
    if (error != 0) fail(error, action);
    error = fs_->status(second, sb);
    if (error == ENOENT || error == ENOTDIR) return false;
    if (error != 0) fail(error, action);
    return sa.device == sb.device && sa.inode == sb.inode;
}

void WorkingFiles::writeText(const std::string& path, const std::string& text) {
    const std::string action = "Não foi possível gravar " + path;
    std::string temporary;
    OpenHandle out(*fs_);
    int error = createTemporary(path, 0600, temporary, out.handle);
    if (error != 0) fail(error, action);
    error = writeFully(*fs_, out.handle, text.data(), text.size());
    if (error == 0) error = fs_->flush(out.handle);
    if (error == 0) error = out.close();
    if (error == 0) error = fs_->moveReplacing(temporary, path);
    if (error != 0) {
        if (out.handle >= 0) (void)out.close();
        (void)fs_->removeFile(temporary);
        fail(error, action);
    }
    flushFolder(parentFolder(path), action);
}

std::string WorkingFiles::readText(const std::string& path) {
    const std::string action = "Não foi possível ler " + path;
    OpenHandle in(*fs_);
    int error = fs_->openForReading(path, in.handle);
    if (error != 0) fail(error, action);
    std::vector<char> buffer(kMaxTextSize);
    std::size_t got = 0;
    error = readFully(*fs_, in.handle, buffer, got);
    if (error != 0) fail(error, action);
    return std::string(buffer.data(), got);
}

}  // namespace maintenance
