#pragma once

#include <string_view>

namespace cli {

// A subcommand of compactar: `compactar NAME ARGS...` calls run with argv[0]
// being NAME and the rest its own arguments; it returns the exit status
// (0 done, 1 failed, 2 bad usage).
struct Subcommand {
    std::string_view name;
    std::string_view usage;    // e.g. "info ARQUIVO"
    std::string_view summary;  // one line, Portuguese
    int (*run)(int argc, char** argv);
};

}  // namespace cli
