#pragma once

namespace window {

// Ends the program. A seam so that tests can see the end without losing their
// own process.
class ProgramEnd {
public:
    virtual ~ProgramEnd() = default;

    // Ends the program at once: no closing events, no further messages.
    virtual void end() = 0;
};

}  // namespace window
