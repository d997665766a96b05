#pragma once

#include <array>
#include <csignal>
#include <string>

namespace maintenance {

// While it lives, SIGINT, SIGTERM, SIGHUP and SIGQUIT only note themselves and
// SIGPIPE is ignored: a run is never cut short while the database is away from
// its path. The run looks at the note between its steps. The signals' previous
// dispositions come back when the guard goes.
class InterruptionGuard {
public:
    static constexpr std::array<int, 4> kSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};

    InterruptionGuard();
    ~InterruptionGuard();
    InterruptionGuard(const InterruptionGuard&) = delete;
    InterruptionGuard& operator=(const InterruptionGuard&) = delete;

    // The last of those signals caught since the guard was made, or 0.
    static int caught();
};

// "SIGINT", "SIGTERM", ...; the number for any other.
std::string signalName(int signal);

}  // namespace maintenance
