#pragma once

#include <string_view>

namespace cli {

// A subcommand of compactar: `compactar NAME ARGS...` calls run with argv[0]
// being NAME and the rest its own arguments; it returns the exit status
// (exit_status.h: 0 done, 1 damage found or failed, 2 bad usage, 3 unreadable).
struct Subcommand {
    std::string_view name;
    std::string_view usage;    // e.g. "info ARQUIVO"
    std::string_view summary;  // one line, Portuguese
    int (*run)(int argc, char** argv);
};

}  // namespace cli
