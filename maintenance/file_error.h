#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace maintenance {

// A failed file operation. The number is the errno value of the system call that
// failed (EBUSY when another program holds the file locked, EEXIST when a move
// would replace a file, EIO when a copy reads back different bytes); the
// description is Portuguese and names the operation and the paths involved.
class FileError : public std::runtime_error {
public:
    FileError(std::int32_t number, const std::string& description)
        : std::runtime_error(description), number_(number) {}

    // "<action>: <Portuguese text for the errno value>".
    static FileError fromErrno(int errnoValue, const std::string& action);

    std::int32_t number() const noexcept { return number_; }
    std::string description() const { return what(); }

private:
    std::int32_t number_;
};

}  // namespace maintenance
