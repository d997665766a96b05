#pragma once

#include "program_end.h"

namespace window_test {

// Counts the requests to end the program instead of ending the test process.
class RecordedProgramEnd final : public window::ProgramEnd {
public:
    void end() override { ++ends; }

    int ends = 0;
};

}  // namespace window_test
