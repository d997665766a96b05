#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace maintenance {

struct FileStatus {
    enum class Kind { Regular, Directory, SymbolicLink, Other };
    Kind kind = Kind::Other;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    std::uint32_t mode = 0;  // permission bits only
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    std::uint64_t links = 1;  // names of the file (hard links)
};

// What a database file carries besides its bytes, so that a file put at its
// path in its place can carry it too.
struct FileAttributes {
    std::uint32_t mode = 0600;  // permission bits, set-id bits included
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    // Extended attributes, name and value; POSIX ACLs are among them
    // ("system.posix_acl_access").
    std::vector<std::pair<std::string, std::string>> extended;
};

// The system calls the working files are built on, one virtual call each, so
// tests can make any single call fail. Every call returns 0 on success or the
// errno value of its failure, and leaves errno alone.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual int status(const std::string& path, FileStatus& out) = 0;      // follows links
    virtual int linkStatus(const std::string& path, FileStatus& out) = 0;  // does not
    virtual int listFolder(const std::string& folder, std::vector<std::string>& names) = 0;
    virtual int canWriteFolder(const std::string& folder) = 0;
    virtual int makeFolder(const std::string& folder) = 0;

    virtual int openForReading(const std::string& path, int& handle) = 0;
    // Creates a file that must not exist yet, open for writing, with `mode`.
    virtual int createNew(const std::string& path, std::uint32_t mode, int& handle) = 0;
    virtual int openFolder(const std::string& folder, int& handle) = 0;
    virtual int read(int handle, std::span<char> buffer, std::size_t& count) = 0;
    virtual int write(int handle, std::span<const char> data, std::size_t& count) = 0;
    // Copies up to `max` bytes from `in` to `out` inside the kernel, from and
    // advancing both files' positions; `count` 0 at the end of `in`. ENOSYS when
    // the file system offers no such copy: callers then read and write.
    virtual int copyRange(int in, int out, std::size_t max, std::size_t& count) {
        (void)in;
        (void)out;
        (void)max;
        count = 0;
        return ENOSYS;
    }
    virtual int handleStatus(int handle, FileStatus& out) = 0;
    // The file's permission bits, owner, group and extended attributes.
    virtual int readAttributes(int handle, FileAttributes& out) = 0;
    // Gives the file `attributes` as far as this process may: what it may not
    // set is left as it is, except that group permission bits are dropped when
    // the group could not be given (they would apply to another group).
    // Failing to give any of them is not an error.
    virtual void giveAttributes(int handle, const FileAttributes& attributes) = 0;
    // Sets the permission bits of the file.
    virtual int changeMode(int handle, std::uint32_t mode) = 0;
    virtual int flush(int handle) = 0;  // to stable storage
    virtual int close(int handle) = 0;
    // Whether another process (or another open file description) holds a POSIX
    // record lock, classic or open-file-description, anywhere in the file.
    virtual int lockedByOther(int handle, bool& locked) = 0;

    // The bytes this process may still write on the file system that holds `folder`.
    virtual int freeSpace(const std::string& folder, std::uint64_t& bytes) = 0;

    virtual int removeFile(const std::string& path) = 0;
    // Moves within one file system; EEXIST when `to` exists, EXDEV across file systems.
    virtual int moveNoReplace(const std::string& from, const std::string& to) = 0;
    // Moves within one file system, atomically replacing `to` when it exists.
    virtual int moveReplacing(const std::string& from, const std::string& to) = 0;
};

}  // namespace maintenance
