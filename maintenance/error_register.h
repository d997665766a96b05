#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace maintenance {

// The last error raised by any step of a run. Number 0 means no error.
class ErrorRegister {
public:
    // Numbers for failures that carry none of their own: memory exhaustion takes
    // ENOMEM's value like any other errno; anything else unexpected takes -1.
    static constexpr std::int32_t kOutOfMemory = 12;
    static constexpr std::int32_t kUnexpected = -1;

    void record(std::int32_t number, std::string description) {
        number_ = number;
        description_ = std::move(description);
    }
    void clearNumber() { number_ = 0; }
    std::int32_t number() const { return number_; }
    const std::string& description() const { return description_; }

    // Records whatever is in flight; call only from inside a catch block.
    void recordCurrentException();

private:
    std::int32_t number_ = 0;
    std::string description_;
};

}  // namespace maintenance
