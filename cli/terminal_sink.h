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

    // For tests that interrupt a run at a given step with a real signal: from
    // the status line that starts with `statusPrefix` on, the run waits there
    // until one of the interrupting signals has come.
    void pauseAt(std::string statusPrefix) { pauseAt_ = std::move(statusPrefix); }

private:
    std::string path_;
    std::string pauseAt_;
    std::string lastStatus_;
    std::ostream& out_;
    std::ostream& err_;
    bool ended_ = false;
};

}  // namespace cli
