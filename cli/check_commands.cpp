#include "check_commands.h"

#include <iostream>

#include "exit_status.h"
#include "jet/check/checker.h"
#include "jet/format/jet_error.h"
#include "readable_database.h"

namespace cli {

int runCheck(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return runCheck(args, std::cout, std::cerr);
}

int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        err << "uso: compactar check ARQUIVO\n";
        return kExitUsage;
    }
    const std::string& path = args[0];
    if (!readableDatabase(path, err)) return kExitUnreadable;
    jet::CheckReport report;
    try {
        report = jet::checkDatabase(path);
    } catch (const jet::JetError& e) {
        // No report at all: the file could not be read as a database.
        reportFailure(path, e, err);
        return kExitUnreadable;
    } catch (const std::exception& e) {
        err << "compactar: não foi possível verificar " << path << ": " << e.what() << "\n";
        return kExitFailure;
    }
    for (const jet::Finding& f : report.findings) out << f.describe() << "  {" << f.code << "}\n";
    out << "Verificadas " << report.tablesChecked << " tabelas, " << report.rowsChecked << " linhas e "
        << report.indexesChecked << " índices em " << report.pageCount << " páginas (" << report.freePages
        << " livres, " << report.leakedPages << " perdidas).\n";
    const std::size_t damage = report.count(jet::FindingClass::Damage);
    out << "Danos: " << damage << "; vazamentos de espaço: " << report.count(jet::FindingClass::SpaceLeak)
        << "; estatísticas desatualizadas: " << report.count(jet::FindingClass::StaleStatistic)
        << "; não verificados: " << report.count(jet::FindingClass::Unverified) << ".\n";
    if (damage > 0) {
        out << "O banco de dados está danificado.\n";
        return kExitFailure;
    }
    out << "Nenhum dano encontrado.\n";
    return kExitSuccess;
}

}  // namespace cli
