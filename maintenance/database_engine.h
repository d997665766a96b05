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

// The database engine the procedure drives. Both calls may throw anything.
class DatabaseEngine {
public:
    virtual ~DatabaseEngine() = default;

    // Repairs the database at `path` in place, keeping its name. Throws on failure.
    virtual void repair(const std::string& path) = 0;

    // Writes a compacted copy of `source` to `destination`, which does not exist
    // yet; leaves `source` in place. Success is judged only by the destination
    // existing afterwards, so a failed compaction must leave no destination file.
    virtual void compact(const std::string& source, const std::string& destination) = 0;
};

// Creates the engine on first use. May throw; the procedure then retries on the
// next use.
using EngineFactory = std::function<std::unique_ptr<DatabaseEngine>()>;

}  // namespace maintenance
