#include "interruption_guard.h"

#include <signal.h>

namespace maintenance {
namespace {

volatile std::sig_atomic_t g_caught = 0;

std::array<struct sigaction, InterruptionGuard::kSignals.size()> g_previous{};
struct sigaction g_previousPipe {};

extern "C" void noteSignal(int signal) { g_caught = signal; }

}  // namespace

InterruptionGuard::InterruptionGuard() {
    g_caught = 0;
    struct sigaction noting {};
    noting.sa_handler = noteSignal;
    sigemptyset(&noting.sa_mask);
    // Calls under way carry on: the note is looked at between steps.
    noting.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &noting, &g_previous[i]);
    struct sigaction ignoring {};
    ignoring.sa_handler = SIG_IGN;
    sigemptyset(&ignoring.sa_mask);
    // A closed output pipe must not end the run where it stands.
    ::sigaction(SIGPIPE, &ignoring, &g_previousPipe);
}

InterruptionGuard::~InterruptionGuard() {
    ::sigaction(SIGPIPE, &g_previousPipe, nullptr);
    for (std::size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &g_previous[i], nullptr);
}

int InterruptionGuard::caught() { return g_caught; }

std::string signalName(int signal) {
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGQUIT: return "SIGQUIT";
    default: return std::to_string(signal);
    }
}

}  // namespace maintenance
