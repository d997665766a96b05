#pragma once

#include <memory>

#include "file_system.h"

namespace maintenance {

// The real file system of this machine.
class SystemFileSystem : public FileSystem {
public:
    int status(const std::string& path, FileStatus& out) override;
    int linkStatus(const std::string& path, FileStatus& out) override;
    int listFolder(const std::string& folder, std::vector<std::string>& names) override;
    int canWriteFolder(const std::string& folder) override;
    int makeFolder(const std::string& folder) override;
    int openForReading(const std::string& path, int& handle) override;
    int createNew(const std::string& path, std::uint32_t mode, int& handle) override;
    int openFolder(const std::string& folder, int& handle) override;
    int read(int handle, std::span<char> buffer, std::size_t& count) override;
    int write(int handle, std::span<const char> data, std::size_t& count) override;
    int copyRange(int in, int out, std::size_t max, std::size_t& count) override;
    int handleStatus(int handle, FileStatus& out) override;
    int readAttributes(int handle, FileAttributes& out) override;
    void giveAttributes(int handle, const FileAttributes& attributes) override;
    int changeMode(int handle, std::uint32_t mode) override;
    int flush(int handle) override;
    int close(int handle) override;
    int lockedByOther(int handle, bool& locked) override;
    int freeSpace(const std::string& folder, std::uint64_t& bytes) override;
    int removeFile(const std::string& path) override;
    int moveNoReplace(const std::string& from, const std::string& to) override;
    int moveReplacing(const std::string& from, const std::string& to) override;
};

std::shared_ptr<FileSystem> systemFileSystem();

}  // namespace maintenance
