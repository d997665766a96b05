#pragma once

#include <stdexcept>
#include <string>

#include "jet/format/error_number.h"

namespace jet {

// Why a repair could not be done: a Jet error number users can look up and a
// Portuguese description (what()) saying what is wrong and where.
class RepairError : public std::runtime_error {
public:
    RepairError(int number, const std::string& description) : std::runtime_error(description), number_(number) {}
    int number() const noexcept { return number_; }

private:
    int number_;
};

}  // namespace jet
