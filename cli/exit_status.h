#pragma once

namespace cli {

// Exit statuses of compactar, the same for every subcommand (see --help).
constexpr int kExitSuccess = 0;     // done; `check`: no damage found
constexpr int kExitFailure = 1;     // `check`: damage found; otherwise the work failed or was partly done
constexpr int kExitUsage = 2;       // bad usage
constexpr int kExitUnreadable = 3;  // the file cannot be opened, or is not a database
constexpr int kExitInterrupted = 128;  // plus the signal that stopped the run (130 for SIGINT)

}  // namespace cli
