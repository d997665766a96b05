#include "terminal_sink.h"

#include <signal.h>

#include <utility>

#include "interruption_guard.h"

namespace cli {

TerminalSink::TerminalSink(std::string path, std::ostream& out, std::ostream& err)
    : path_(std::move(path)), out_(out), err_(err) {}

void TerminalSink::setStatus(const std::string& text) {
    // Emptying the status label has nothing to show on a line of its own.
    if (!text.empty()) err_ << text << '\n';
    lastStatus_ = text;
}

void TerminalSink::repaint() {
    err_.flush();
    if (pauseAt_.empty() || lastStatus_.empty() || lastStatus_.rfind(pauseAt_, 0) != 0) return;
    // Blocked first, so a signal that comes between the look and the wait is not missed.
    sigset_t interrupting;
    sigset_t previous;
    sigemptyset(&interrupting);
    for (const int signal : maintenance::InterruptionGuard::kSignals) sigaddset(&interrupting, signal);
    ::sigprocmask(SIG_BLOCK, &interrupting, &previous);
    while (maintenance::InterruptionGuard::caught() == 0) ::sigsuspend(&previous);
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
}

void TerminalSink::showMessage(const std::string& text) { out_ << text << '\n' << std::flush; }

}  // namespace cli
