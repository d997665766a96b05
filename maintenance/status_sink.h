#pragma once

#include <string>

namespace maintenance {

// What a run of the procedure needs of whoever shows it: the window, a
// terminal, or a test double. Every operation may throw; the procedure records
// the error and goes on with its next step.
class StatusSink {
public:
    virtual ~StatusSink() = default;

    virtual void setBusyPointer() = 0;            // hourglass over the whole window
    virtual void setNormalPointer() = 0;          // the arrow, not the default pointer
    virtual std::string readPathBox() = 0;        // current text of the path box
    virtual void setStatus(const std::string& text) = 0;
    virtual void repaint() = 0;                   // synchronous: visible before it returns
    virtual void showMessage(const std::string& text) = 0;  // modal, one OK button
    virtual void endProgram() = 0;                // ends the program at once
};

}  // namespace maintenance
