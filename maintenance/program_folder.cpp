#include "program_folder.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "file_error.h"
#include "path_parts.h"
#include "system_file_system.h"

namespace maintenance {

ProgramFolder::ProgramFolder(std::shared_ptr<FileSystem> fileSystem, std::string executableFolder,
                             Environment environment, std::optional<std::uint32_t> user)
    : fs_(std::move(fileSystem)),
      executableFolder_(std::move(executableFolder)),
      environment_(std::move(environment)),
      user_(user ? *user : static_cast<std::uint32_t>(::geteuid())) {}

std::string ProgramFolder::locate() {
    if (!isInstalledFolder(executableFolder_) && fs_->canWriteFolder(executableFolder_) == 0) return executableFolder_;
    const std::optional<std::string> data = dataFolder();
    if (!data) return executableFolder_;
    const std::string folder = joinPath(*data, kDataFolderName);
    if (makeFolders(folder) && fs_->canWriteFolder(folder) == 0) return folder;
    return executableFolder_;
}

bool ProgramFolder::isInstalledFolder(const std::string& folder) {
    for (const char* system : {"/usr", "/opt", "/bin", "/sbin"}) {
        const std::string prefix = system;
        if (folder == prefix || folder.rfind(prefix + "/", 0) == 0) return true;
    }
    FileStatus st;
    if (fs_->status(folder, st) != 0) return false;  // then it cannot be written either
    return st.owner != user_;
}

std::optional<std::string> ProgramFolder::dataFolder() {
    // Relative values are ignored, as the XDG base directory rules ask.
    const std::optional<std::string> xdg = environment_("XDG_DATA_HOME");
    if (xdg && !xdg->empty() && xdg->front() == '/') return *xdg;
    const std::optional<std::string> home = environment_("HOME");
    if (home && !home->empty() && home->front() == '/') return joinPath(*home, ".local/share");
    return std::nullopt;
}

bool ProgramFolder::makeFolders(const std::string& folder) {
    std::vector<std::string> missing;
    std::string current = folder;
    for (int depth = 0; depth < 64; ++depth) {
        FileStatus st;
        const int error = fs_->status(current, st);
        if (error == 0) {
            if (st.kind != FileStatus::Kind::Directory) return false;
            break;
        }
        if (error != ENOENT || current == "/" || current == ".") return false;
        missing.push_back(current);
        current = parentFolder(current);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        const int error = fs_->makeFolder(*it);
        if (error != 0 && error != EEXIST) return false;
    }
    return true;
}

std::string ProgramFolder::executableFolder() {
    std::vector<char> buffer(4096);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            throw FileError::fromErrno(errno, "Não foi possível localizar a pasta do programa");
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return parentFolder(std::string(buffer.data(), static_cast<std::size_t>(length)));
        }
        buffer.resize(buffer.size() * 2);
    }
    throw FileError::fromErrno(ENAMETOOLONG, "Não foi possível localizar a pasta do programa");
}

ProgramFolder::Environment ProgramFolder::processEnvironment() {
    return [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    };
}

std::string locateProgramFolder() {
    return ProgramFolder(systemFileSystem(), ProgramFolder::executableFolder(), ProgramFolder::processEnvironment())
        .locate();
}

}  // namespace maintenance
