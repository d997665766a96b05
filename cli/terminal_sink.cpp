#include "terminal_sink.h"

#include <utility>

namespace cli {

TerminalSink::TerminalSink(std::string path, std::ostream& out, std::ostream& err)
    : path_(std::move(path)), out_(out), err_(err) {}

void TerminalSink::setStatus(const std::string& text) {
    // Emptying the status label has nothing to show on a line of its own.
    if (!text.empty()) err_ << text << '\n';
}

void TerminalSink::repaint() { err_.flush(); }

void TerminalSink::showMessage(const std::string& text) { out_ << text << '\n' << std::flush; }

}  // namespace cli
