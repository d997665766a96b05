#include "procedure_command.h"

#include "command_line.h"
#include "terminal_sink.h"

namespace cli {

int runProcedureOn(const std::string& path, maintenance::Procedure& procedure, std::ostream& out,
                   std::ostream& err) {
    TerminalSink sink(path, out, err);
    procedure.run(sink);
    return sink.ended() ? kExitSuccess : kExitFailure;
}

}  // namespace cli
