#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "file_system.h"
#include "system_file_system.h"

namespace testing_support {

// The real file system with a switch on every call: a rule decides, from the
// call's ordinal, kind and path, whether the call fails with a given errno
// value instead of running. Every call is also logged as "kind path".
// Flushes are logged but not carried out.
class FaultyFileSystem : public maintenance::FileSystem {
public:
    enum class Call {
        Status, LinkStatus, ListFolder, CanWriteFolder, MakeFolder, OpenForReading, CreateNew, OpenFolder,
        Read, Write, HandleStatus, Flush, Close, LockedByOther, RemoveFile, MoveNoReplace, MoveReplacing,
        FreeSpace,
    };
    // Returns 0 to let the call run, or the errno value it fails with.
    using Rule = std::function<int(long ordinal, Call call, const std::string& path)>;

    static const char* name(Call call);

    void setRule(Rule rule) { rule_ = std::move(rule); }
    void failCall(long ordinal, int errnoValue);       // that call only
    void failFromCall(long ordinal, int errnoValue);   // that call and every one after it
    void failWhen(Call call, const std::string& path, int errnoValue);  // every such call
    void clearRule() { rule_ = nullptr; }

    long calls() const { return ordinal_; }
    const std::vector<std::string>& log() const { return log_; }
    void clearLog() { log_.clear(); }

    int status(const std::string& path, maintenance::FileStatus& out) override;
    int linkStatus(const std::string& path, maintenance::FileStatus& out) override;
    int listFolder(const std::string& folder, std::vector<std::string>& names) override;
    int canWriteFolder(const std::string& folder) override;
    int makeFolder(const std::string& folder) override;
    int openForReading(const std::string& path, int& handle) override;
    int createNew(const std::string& path, std::uint32_t mode, int& handle) override;
    int openFolder(const std::string& folder, int& handle) override;
    int read(int handle, std::span<char> buffer, std::size_t& count) override;
    int write(int handle, std::span<const char> data, std::size_t& count) override;
    int handleStatus(int handle, maintenance::FileStatus& out) override;
    int readAttributes(int handle, maintenance::FileAttributes& out) override;
    void giveAttributes(int handle, const maintenance::FileAttributes& attributes) override;
    int changeMode(int handle, std::uint32_t mode) override;
    int flush(int handle) override;
    int close(int handle) override;
    int lockedByOther(int handle, bool& locked) override;
    int freeSpace(const std::string& folder, std::uint64_t& bytes) override;
    int removeFile(const std::string& path) override;

    // From now on the file system holding `folder` reports `bytes` free.
    void reportFreeSpace(const std::string& folder, std::uint64_t bytes) { freeSpace_[folder] = bytes; }
    int moveNoReplace(const std::string& from, const std::string& to) override;
    int moveReplacing(const std::string& from, const std::string& to) override;

private:
    int gate(Call call, const std::string& path, const std::string& target = std::string());
    std::string pathOf(int handle) const;

    maintenance::SystemFileSystem real_;
    Rule rule_;
    long ordinal_ = 0;
    std::vector<std::string> log_;
    std::map<int, std::string> handles_;
    std::map<std::string, std::uint64_t> freeSpace_;
};

}  // namespace testing_support
