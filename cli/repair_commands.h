#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "jet/repair/repair_report.h"

namespace cli {

// `compactar repair ORIGEM DESTINO [--json]`: the engine's repair into a new file,
// ORIGEM only read. Prints one line per row, value, page or table that could not
// be kept as it was, then a summary (or all of it as one JSON object). 0 sound or
// repaired, 1 nothing could be saved (no DESTINO left behind), 2 bad usage, 3 when
// ORIGEM cannot be opened or is not a database.
int runRepair(int argc, char** argv);
int runRepair(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// One item of a repair's report as a line: table, page, row, column, what happened.
std::string repairItemLine(const jet::RepairItem& item);
// "3 linhas descartadas, 1 valores alterados, em 2 tabelas"
std::string repairSummaryLine(const jet::RepairReport& report);

}  // namespace cli
