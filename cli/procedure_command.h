#pragma once

#include <ostream>
#include <string>

#include "procedure.h"

namespace cli {

// `compactar PATH`: one run of the procedure on PATH with a terminal sink.
// Returns 0 when the run succeeded, 1 when it reached its failure ending, 128 plus
// the signal when SIGINT, SIGTERM, SIGHUP or SIGQUIT stopped it.
int runProcedureOn(const std::string& path, maintenance::Procedure& procedure, std::ostream& out,
                   std::ostream& err);

}  // namespace cli
