#pragma once

#include <optional>
#include <string>

#include "scratch_set.h"
#include "working_files.h"

namespace maintenance {

// Remembers, across runs, crashes and power cuts, that the backup (scratch 1)
// may be the only whole copy of a database that is not at its path: written
// before the database leaves its path and whenever a restore fails, so that no
// later run clears the backup before the user has dealt with it. The note is a
// small text file beside the backup: the database's path on its first line,
// then a word for the user, then the database's permissions, owner and group
// when they are known, so that the file put back gets them.
class PendingRestore {
public:
    PendingRestore(WorkingFiles& files, const ScratchSet& scratch);

    void record(const std::string& databasePath, const std::optional<FileAttributes>& attributes = std::nullopt);

    // The same, but only looks: nothing is removed, and nothing is told when
    // the note cannot be read.
    std::optional<std::string> waiting() noexcept;

    // The permissions, owner and group the note recorded, if any.
    std::optional<FileAttributes> recordedAttributes();

    // The database path that still waits for its file, or nothing. A note is
    // settled, and removed, once the database path holds a file again or the
    // backup is gone from the program folder (the user moved it away).
    // Throws when this cannot be told.
    std::optional<std::string> outstanding();

private:
    WorkingFiles& files_;
    const ScratchSet& scratch_;
};

}  // namespace maintenance
