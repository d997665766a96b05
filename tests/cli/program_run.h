#pragma once

#include <optional>
#include <string>
#include <vector>

#include "second_user.h"
#include "temp_folder.h"

namespace testing_support {

// What a finished program left: its exit status and both output streams.
struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `program` with `arguments`, its output streams caught in files of `folder`.
// With `asNobody`, a run started as root gives up its privileges first; `home`
// replaces HOME (and drops XDG_DATA_HOME) for the child.
ProgramRun runProgram(const std::string& program, const std::vector<std::string>& arguments, const TempFolder& folder,
                      bool asNobody = false, const std::optional<std::string>& home = std::nullopt);

// The same, killed (by SIGALRM, status -1) if it has not ended after `seconds`:
// for runs that could wait forever.
ProgramRun runProgramWithin(unsigned seconds, const std::string& program, const std::vector<std::string>& arguments,
                            const TempFolder& folder);

// The same, the program run as `account` (its output files opened before).
ProgramRun runProgramAs(const Account& account, const std::string& program, const std::vector<std::string>& arguments,
                        const TempFolder& folder);

}  // namespace testing_support
