#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace maintenance {

// Raised by an engine operation that fails: a number the user can look up and a
// Portuguese description of what is wrong and where.
class EngineError : public std::runtime_error {
public:
    EngineError(std::int32_t number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    std::int32_t number() const noexcept { return number_; }
    std::string description() const { return what(); }

private:
    std::int32_t number_;
};

// What a repair could not keep as it was, counted for the user; all zero when
// the repair dropped and changed nothing.
struct RepairLosses {
    std::uint64_t rows = 0;    // rows left out
    std::uint64_t values = 0;  // long values cut or made NULL
    std::uint64_t pages = 0;   // data pages whose rows could not be read
    std::size_t tables = 0;    // tables the above belong to
    std::size_t items = 0;     // everything listed, other changes (a table renamed, ...) included

    bool any() const { return items != 0; }
};

// The database engine the procedure drives. Both calls may throw anything.
class DatabaseEngine {
public:
    virtual ~DatabaseEngine() = default;

    // Repairs the database at `path` in place, keeping its name, and says what it
    // could not keep (the list itself goes into the database). Throws on failure.
    virtual RepairLosses repair(const std::string& path) = 0;

    // Writes a compacted copy of `source` to `destination`, which does not exist
    // yet; leaves `source` in place. Success is judged only by the destination
    // existing afterwards, so a failed compaction must leave no destination file.
    virtual void compact(const std::string& source, const std::string& destination) = 0;
};

// Creates the engine on first use. May throw; the procedure then retries on the
// next use.
using EngineFactory = std::function<std::unique_ptr<DatabaseEngine>()>;

}  // namespace maintenance
