#include "procedure_command.h"

#include <cstdlib>

#include "command_line.h"
#include "terminal_sink.h"

namespace cli {

int runProcedureOn(const std::string& path, maintenance::Procedure& procedure, std::ostream& out,
                   std::ostream& err) {
    TerminalSink sink(path, out, err);
    // Test seam: see TerminalSink::pauseAt.
    if (const char* step = std::getenv("COMPACTAR_TEST_PAUSE_AT")) sink.pauseAt(step);
    procedure.run(sink);
    if (procedure.interruptedBy() != 0) return kExitInterrupted + procedure.interruptedBy();
    return sink.ended() ? kExitSuccess : kExitFailure;
}

}  // namespace cli
