#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace cli {

// `compactar compact [--repair] ORIGEM DESTINO`: the engine's compaction (after its
// repair into a hidden file beside DESTINO with --repair), with a
// progress line on a terminal and a summary (sizes, pages reclaimed, time).
// 0 done, 1 failed (no destination left behind), 2 bad usage, 3 when ORIGEM
// cannot be opened or is not a database.
int runCompact(int argc, char** argv);
int runCompact(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress);

}  // namespace cli
