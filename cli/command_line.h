#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>

#include "exit_status.h"
#include "subcommand.h"

namespace cli {

// Reads compactar's command line: `--help`, a registered subcommand, or the
// path of one database to repair and compact (after `--` when it starts with a
// dash or has a subcommand's name). `runPath` does the latter.
class CommandLine {
public:
    using PathRunner = std::function<int(const std::string& path)>;

    CommandLine(std::span<const Subcommand> subcommands, PathRunner runPath, std::ostream& out, std::ostream& err);

    int dispatch(int argc, char** argv);

private:
    void printHelp(std::ostream& stream) const;
    int usageError(const std::string& problem);

    std::span<const Subcommand> subcommands_;
    PathRunner runPath_;
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace cli
