#pragma once

#include <array>
#include <string>

namespace maintenance {

// The three scratch paths of a run, made by appending fixed suffixes to the
// program folder exactly as it was read (no separator added or removed).
class ScratchSet {
public:
    static constexpr int kCount = 3;

    explicit ScratchSet(const std::string& programFolder);

    // number is 1 (backup), 2 (the database set aside) or 3 (compacted output).
    const std::string& path(int number) const;
    const std::string& backup() const { return paths_[0]; }
    const std::string& setAside() const { return paths_[1]; }
    const std::string& compacted() const { return paths_[2]; }
    // Marks a backup that still holds a database whose restore failed.
    const std::string& pendingRestoreNote() const { return note_; }

private:
    std::array<std::string, kCount> paths_;
    std::string note_;
};

}  // namespace maintenance
