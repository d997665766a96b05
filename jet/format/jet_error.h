#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace jet {

// What went wrong, coarsely: callers decide on exit codes and wording from this.
enum class ErrorKind {
    Io,           // the operating system refused a read (missing file, permissions, ...)
    NotDatabase,  // the file is not an Access/Jet database at all
    Corruption,   // a structure of the file contradicts the format
    Unsupported,  // a valid file this engine cannot handle (unknown version, ...)
    Encrypted,    // ACE file encrypted with a password
    NotFound,     // a named object (table, column) does not exist
    InvalidArgument,
};

// Where in the file a problem was found. Every field is optional.
struct ErrorLocation {
    // (Default member initializers keep g++ quiet about designated initializers
    // that name only some of the fields.)
    std::optional<std::uint32_t> page{};
    std::optional<std::size_t> offset{};  // inside the page, or inside the structure named below
    std::optional<int> row{};             // row number on the page
    std::string table{};
    std::string structure{};              // e.g. "TDEF", "linha", "mapa de uso"

    // Portuguese, for messages the user sees: "página 12, posição 0x1a, tabela Clientes".
    std::string describe() const;
};

// The one error type of the engine. what() is the Portuguese message for the user
// (with the location); detail() keeps the English text for developers.
class JetError : public std::runtime_error {
public:
    JetError(ErrorKind kind, const std::string& user_message, std::string detail,
             ErrorLocation location = {});

    ErrorKind kind() const noexcept { return kind_; }
    const std::string& detail() const noexcept { return detail_; }
    const ErrorLocation& location() const noexcept { return location_; }
    const std::string& userMessage() const noexcept { return user_message_; }

    // A copy of this error with more location filled in (fields already set win).
    JetError withContext(const ErrorLocation& outer) const;

private:
    ErrorKind kind_;
    std::string user_message_;
    std::string detail_;
    ErrorLocation location_;
};

// Every "the file is damaged" error goes through here, so they all read alike.
[[noreturn]] void throwCorruption(const std::string& detail, const ErrorLocation& where = {});

}  // namespace jet
