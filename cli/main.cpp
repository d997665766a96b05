// compactar: the repair-and-compact procedure for terminals, scripts and servers.
#include <iostream>
#include <vector>

#include "check_commands.h"
#include "command_line.h"
#include "compact_commands.h"
#include "inspect_commands.h"
#include "procedure_command.h"
#include "repair_commands.h"
#include "program_engine.h"
#include "subcommand.h"

namespace {

// Subcommands, one line each: {name, usage, summary, function}, e.g.
//   {"info", "info ARQUIVO", "mostra ...", cli::runInfo},
const std::vector<cli::Subcommand>& registeredSubcommands() {
    static const std::vector<cli::Subcommand> subcommands = {
        {"check", "check ARQUIVO", "verifica a integridade do banco de dados e lista os problemas", cli::runCheck},
        {"info", "info ARQUIVO", "mostra versão, páginas, tabelas e o espaço que a compactação recuperaria", cli::runInfo},
        {"dump", "dump ARQUIVO [--table NOME] [--format tsv|json] [--output PASTA] [--salvage]", "exporta uma tabela, ou todas, em TSV ou JSON", cli::runDump},
        {"compact", "compact [--repair] ORIGEM DESTINO", "compacta ORIGEM em um novo arquivo DESTINO, sem alterar ORIGEM", cli::runCompact},
        {"repair", "repair ORIGEM DESTINO [--json]", "repara ORIGEM em um novo arquivo DESTINO, sem alterar ORIGEM, e lista o que não pôde ser mantido", cli::runRepair},
    };
    return subcommands;
}

}  // namespace

int main(int argc, char** argv) {
    maintenance::Procedure procedure(maintenance::programEngineFactory());
    cli::CommandLine commandLine(
        registeredSubcommands(),
        [&](const std::string& path) { return cli::runProcedureOn(path, procedure, std::cout, std::cerr); },
        std::cout, std::cerr);
    return commandLine.dispatch(argc, argv);
}
