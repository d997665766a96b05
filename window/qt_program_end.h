#pragma once

#include "program_end.h"

namespace window {

// Ends the program by quitting the event loop with status 0. The run that asks
// for the end is the last thing on the stack: once it returns, the loop returns
// without handling another event and main() ends; no window receives a close
// event, and the engine is released as main() unwinds.
class QtProgramEnd final : public ProgramEnd {
public:
    void end() override;
};

}  // namespace window
