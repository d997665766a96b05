#pragma once

#include <memory>
#include <string>
#include <vector>

#include "file_system.h"

namespace maintenance {

// The file operations the procedure works through. Each one either takes full
// effect or throws FileError; none ever leaves a half-written file under a name
// the procedure looks at. Copies and moves flush the file and its folder before
// they return, so after a crash a file is either complete at its name or not
// there.
class WorkingFiles {
public:
    explicit WorkingFiles(std::shared_ptr<FileSystem> fileSystem);

    // The existence test: true when `path` names an ordinary file, or when its
    // last element is a wildcard pattern that some ordinary file matches.
    // Folders, hidden files (a name starting with '.'), devices, sockets and
    // pipes do not count. Throws FileError when the path cannot be looked up at
    // all (no permission on a folder, a name too long, an embedded NUL).
    bool isPresent(const std::string& path);

    // Whether nothing at all, of any kind, is at `path` (links not followed).
    // Throws FileError when that cannot be told.
    bool isVacant(const std::string& path);

    // The bytes that may still be written in `folder`'s file system.
    std::uint64_t freeSpace(const std::string& folder);
    // Whether both paths lie on the same file system (both must exist).
    bool sameFileSystem(const std::string& first, const std::string& second);
    // The size of a file, links followed.
    std::uint64_t sizeOf(const std::string& path);

    // The ordinary files that `path` names, as the existence test finds them.
    std::vector<std::string> filesMatching(const std::string& path);

    // Deletes a file; fails for a folder, a missing file, or one that another
    // program holds locked.
    void remove(const std::string& path);

    // Copies the whole file, replacing `destination` at once when it exists.
    // Fails when the source, or its Jet lock file, is locked by another program.
    // The copy is private: only the source's owner permission bits, and this
    // process as its owner, so no one can read it who could not read the source.
    void copy(const std::string& source, const std::string& destination);
    // The same, the copy given `attributes` before it takes its name.
    void copy(const std::string& source, const std::string& destination, const FileAttributes& attributes);

    // Moves a file, across file systems too; never replaces an existing file.
    // Fails when the source, or its Jet lock file, is locked by another program.
    // The file keeps its attributes, as far as this process may set them.
    void rename(const std::string& from, const std::string& to);
    // The same, the file given `attributes` under a hidden name beside `to`
    // before it takes its name there, so that it never shows at `to` without
    // them, nor with them anywhere else.
    void rename(const std::string& from, const std::string& to, const FileAttributes& attributes);

    // The permission bits, owner, group and extended attributes of a file.
    FileAttributes attributes(const std::string& path);
    // Gives a file `attributes`, as far as this process may, and flushes them.
    void giveAttributes(const std::string& path, const FileAttributes& attributes);
    // Takes the group and other permission bits from a file that has no other
    // name (through another name the same bits would change for that name too).
    void makePrivate(const std::string& path);

    // Whether both paths hold files with the same bytes.
    bool sameContents(const std::string& first, const std::string& second);

    // Whether both paths name the same file (symbolic links followed, hard
    // links seen through); false when either is missing.
    bool sameFile(const std::string& first, const std::string& second);

    // Removes the hidden partial copies a crash left for `name` in `folder`
    // (see copy); best effort, nothing is reported.
    void removePartialCopies(const std::string& folder, const std::string& name);

    // A small text file, written like a copy (complete or not at all).
    void writeText(const std::string& path, const std::string& text);
    std::string readText(const std::string& path);

private:
    bool isOrdinaryVisibleFile(const std::string& path, const std::string& name, const char* action);
    void refuseIfLocked(const std::string& path, const std::string& action);
    void flushFolder(const std::string& folder, const std::string& action);
    // Writes a full copy of `source` under a fresh hidden name in the folder of
    // `destination` and returns that name; the copy is flushed and closed.
    // `attributes` null: the copy is private; else it is given those.
    std::string copyToTemporary(const std::string& source, const std::string& destination,
                                const std::string& action, const FileAttributes* attributes);
    void copyWith(const std::string& source, const std::string& destination, const FileAttributes* attributes);
    // Opens a regular file for reading, refusing anything else without waiting on it.
    void openRegular(const std::string& path, int& handle, FileStatus& opened, const std::string& action);
    static std::string temporaryStem(const std::string& destination);
    int createTemporary(const std::string& destination, std::uint32_t mode, std::string& temporary,
                        int& handle);
    void moveAcrossFileSystems(const std::string& from, const std::string& to, const std::string& action);

    std::shared_ptr<FileSystem> fs_;
    unsigned temporaryCounter_ = 0;
};

}  // namespace maintenance
