#include "system_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

namespace maintenance {
namespace {

// A path with an embedded NUL cannot be handed to the system at all.
bool unusable(const std::string& path) { return path.find('\0') != std::string::npos; }

void fill(const struct stat& st, FileStatus& out) {
    if (S_ISREG(st.st_mode)) {
        out.kind = FileStatus::Kind::Regular;
    } else if (S_ISDIR(st.st_mode)) {
        out.kind = FileStatus::Kind::Directory;
    } else if (S_ISLNK(st.st_mode)) {
        out.kind = FileStatus::Kind::SymbolicLink;
    } else {
        out.kind = FileStatus::Kind::Other;
    }
    out.device = static_cast<std::uint64_t>(st.st_dev);
    out.inode = static_cast<std::uint64_t>(st.st_ino);
    out.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    out.mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    out.owner = st.st_uid;
    out.group = st.st_gid;
    out.links = static_cast<std::uint64_t>(st.st_nlink);
}

int result(int rc) { return rc == 0 ? 0 : errno; }

}  // namespace

int SystemFileSystem::status(const std::string& path, FileStatus& out) {
    if (unusable(path)) return EINVAL;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return errno;
    fill(st, out);
    return 0;
}

int SystemFileSystem::linkStatus(const std::string& path, FileStatus& out) {
    if (unusable(path)) return EINVAL;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno;
    fill(st, out);
    return 0;
}

int SystemFileSystem::listFolder(const std::string& folder, std::vector<std::string>& names) {
    if (unusable(folder)) return EINVAL;
    names.clear();
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return errno;
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) {
            error = errno;
            break;
        }
        names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return error;
}

int SystemFileSystem::canWriteFolder(const std::string& folder) {
    if (unusable(folder)) return EINVAL;
    return result(::access(folder.c_str(), W_OK | X_OK));
}

int SystemFileSystem::makeFolder(const std::string& folder) {
    if (unusable(folder)) return EINVAL;
    return result(::mkdir(folder.c_str(), 0700));
}

int SystemFileSystem::openForReading(const std::string& path, int& handle) {
    if (unusable(path)) return EINVAL;
    handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return handle < 0 ? errno : 0;
}

int SystemFileSystem::createNew(const std::string& path, std::uint32_t mode, int& handle) {
    if (unusable(path)) return EINVAL;
    handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    return handle < 0 ? errno : 0;
}

int SystemFileSystem::openFolder(const std::string& folder, int& handle) {
    if (unusable(folder)) return EINVAL;
    handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return handle < 0 ? errno : 0;
}

int SystemFileSystem::read(int handle, std::span<char> buffer, std::size_t& count) {
    for (;;) {
        const ssize_t got = ::read(handle, buffer.data(), buffer.size());
        if (got >= 0) {
            count = static_cast<std::size_t>(got);
            return 0;
        }
        if (errno != EINTR) return errno;
    }
}

int SystemFileSystem::copyRange(int in, int out, std::size_t max, std::size_t& count) {
    for (;;) {
        const ssize_t copied = ::copy_file_range(in, nullptr, out, nullptr, max, 0);
        if (copied >= 0) {
            count = static_cast<std::size_t>(copied);
            return 0;
        }
        count = 0;
        if (errno == EINTR) continue;
        // Kernels and file systems that cannot copy this pair: the caller reads and writes.
        if (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS) return ENOSYS;
        return errno;
    }
}

int SystemFileSystem::write(int handle, std::span<const char> data, std::size_t& count) {
    for (;;) {
        const ssize_t put = ::write(handle, data.data(), data.size());
        if (put >= 0) {
            count = static_cast<std::size_t>(put);
            return 0;
        }
        if (errno != EINTR) return errno;
    }
}

int SystemFileSystem::handleStatus(int handle, FileStatus& out) {
    struct stat st {};
    if (::fstat(handle, &st) != 0) return errno;
    fill(st, out);
    return 0;
}

int SystemFileSystem::readAttributes(int handle, FileAttributes& out) {
    struct stat st {};
    if (::fstat(handle, &st) != 0) return errno;
    out.mode = static_cast<std::uint32_t>(st.st_mode & 07777);
    out.owner = st.st_uid;
    out.group = st.st_gid;
    out.extended.clear();
    // Sizes are asked first; an attribute that grows in between is asked again.
    std::vector<char> names;
    for (;;) {
        const ssize_t size = ::flistxattr(handle, nullptr, 0);
        if (size < 0) return errno == ENOTSUP ? 0 : errno;  // a file system without them
        names.resize(static_cast<std::size_t>(size));
        const ssize_t got = size == 0 ? 0 : ::flistxattr(handle, names.data(), names.size());
        if (got >= 0) {
            names.resize(static_cast<std::size_t>(got));
            break;
        }
        if (errno != ERANGE) return errno;
    }
    for (std::size_t at = 0; at < names.size();) {
        const std::string name(names.data() + at);
        at += name.size() + 1;
        std::string value;
        for (;;) {
            const ssize_t size = ::fgetxattr(handle, name.c_str(), nullptr, 0);
            if (size < 0) break;  // gone, or not ours to read: it cannot be carried
            value.resize(static_cast<std::size_t>(size));
            const ssize_t got = size == 0 ? 0 : ::fgetxattr(handle, name.c_str(), value.data(), value.size());
            if (got >= 0) {
                value.resize(static_cast<std::size_t>(got));
                out.extended.emplace_back(name, std::move(value));
                break;
            }
            if (errno != ERANGE) break;
        }
    }
    return 0;
}

void SystemFileSystem::giveAttributes(int handle, const FileAttributes& attributes) {
    for (const auto& [name, value] : attributes.extended) {
        (void)::fsetxattr(handle, name.c_str(), value.data(), value.size(), 0);
    }
    struct stat st {};
    if (::fstat(handle, &st) != 0) return;
    std::uint32_t mode = attributes.mode;
    if (st.st_uid != attributes.owner || st.st_gid != attributes.group) {
        // Only root gives a file away; anyone may give a file of theirs a group
        // they belong to.
        if (::fchown(handle, attributes.owner, attributes.group) != 0 &&
            ::fchown(handle, static_cast<uid_t>(-1), attributes.group) != 0) {
            mode &= ~static_cast<std::uint32_t>(S_ISGID | S_IRWXG);
        }
    }
    (void)::fchmod(handle, static_cast<mode_t>(mode));  // after chown, which clears set-id bits
}

int SystemFileSystem::changeMode(int handle, std::uint32_t mode) {
    return result(::fchmod(handle, static_cast<mode_t>(mode)));
}

int SystemFileSystem::flush(int handle) { return result(::fsync(handle)); }

int SystemFileSystem::close(int handle) { return result(::close(handle)); }

int SystemFileSystem::lockedByOther(int handle, bool& locked) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = 0;
    probe.l_len = 0;  // the whole file, and beyond its end, where Jet locks its byte ranges
    // An open-file-description query sees both kinds of lock; the classic query
    // is the fallback for kernels without it.
    if (::fcntl(handle, F_OFD_GETLK, &probe) != 0) {
        if (errno != EINVAL) return errno;
        probe = {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        if (::fcntl(handle, F_GETLK, &probe) != 0) return errno;
    }
    locked = probe.l_type != F_UNLCK;
    return 0;
}

int SystemFileSystem::freeSpace(const std::string& folder, std::uint64_t& bytes) {
    if (unusable(folder)) return EINVAL;
    struct statvfs st {};
    if (::statvfs(folder.c_str(), &st) != 0) return errno;
    // What an ordinary user may use: root's reserve is not counted on.
    bytes = static_cast<std::uint64_t>(st.f_bavail) * static_cast<std::uint64_t>(st.f_frsize);
    return 0;
}

int SystemFileSystem::removeFile(const std::string& path) {
    if (unusable(path)) return EINVAL;
    return result(::unlink(path.c_str()));
}

int SystemFileSystem::moveNoReplace(const std::string& from, const std::string& to) {
    if (unusable(from) || unusable(to)) return EINVAL;
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS) return error;
    // File systems without RENAME_NOREPLACE: a hard link cannot replace either.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) == 0) return 0;
        const int unlinkError = errno;
        (void)::unlink(to.c_str());
        return unlinkError;
    }
    const int linkError = errno;
    if (linkError != EPERM && linkError != EOPNOTSUPP) return linkError;
    // Nor links: test first, then rename (a short window, but never a silent
    // replacement of a file that was already there).
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) return EEXIST;
    if (errno != ENOENT) return errno;
    return result(::rename(from.c_str(), to.c_str()));
}

int SystemFileSystem::moveReplacing(const std::string& from, const std::string& to) {
    if (unusable(from) || unusable(to)) return EINVAL;
    return result(::rename(from.c_str(), to.c_str()));
}

std::shared_ptr<FileSystem> systemFileSystem() { return std::make_shared<SystemFileSystem>(); }

}  // namespace maintenance
