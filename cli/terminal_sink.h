#pragma once

#include <ostream>
#include <string>

#include "status_sink.h"

namespace cli {

// Shows a run in a terminal, a script or a server log: each status text as a
// line on the error stream, each message as a line on the output stream, and
// no waiting for anyone. Pointers have no meaning here.
class TerminalSink : public maintenance::StatusSink {
public:
    TerminalSink(std::string path, std::ostream& out, std::ostream& err);

    void setBusyPointer() override {}
    void setNormalPointer() override {}
    std::string readPathBox() override { return path_; }
    void setStatus(const std::string& text) override;
    void repaint() override;
    void showMessage(const std::string& text) override;
    // The run asked the program to end: it succeeded.
    void endProgram() override { ended_ = true; }

    bool ended() const { return ended_; }

private:
    std::string path_;
    std::ostream& out_;
    std::ostream& err_;
    bool ended_ = false;
};

}  // namespace cli
