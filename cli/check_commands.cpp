#include "check_commands.h"

#include <iostream>
#include <optional>

#include "exit_status.h"
#include "jet/check/checker.h"
#include "jet/format/jet_error.h"
#include "jet/table/value.h"
#include "readable_database.h"

namespace cli {

namespace {

enum class CheckOutput { Text, Json, Quiet };

// "1 tabela", "2 tabelas".
std::string counted(std::uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void appendNumber(std::string& j, const char* name, std::optional<std::uint64_t> v) {
    j += ",\"";
    j += name;
    j += "\":";
    j += v ? std::to_string(*v) : std::string("null");
}

void appendText(std::string& j, const char* name, const std::string& v) {
    j += ",\"";
    j += name;
    j += "\":";
    if (v.empty()) j += "null";
    else jet::appendJsonString(j, v);
}

void printJson(const std::string& path, const jet::CheckReport& report, std::ostream& out) {
    using jet::FindingClass;
    std::string j = "{\"file\":";
    jet::appendJsonString(j, path);
    j += ",\"damaged\":";
    j += report.hasDamage() ? "true" : "false";
    appendNumber(j, "pages", report.pageCount);
    appendNumber(j, "free_pages", report.freePages);
    appendNumber(j, "leaked_pages", report.leakedPages);
    appendNumber(j, "tables", report.tablesChecked);
    appendNumber(j, "rows", report.rowsChecked);
    appendNumber(j, "indexes", report.indexesChecked);
    j += ",\"summary\":{";
    const FindingClass classes[] = {FindingClass::Damage, FindingClass::SpaceLeak, FindingClass::StaleStatistic,
                                    FindingClass::Unverified};
    for (std::size_t i = 0; i < std::size(classes); ++i) {
        if (i) j += ',';
        j += '"' + jet::findingClassCode(classes[i]) + "\":" + std::to_string(report.occurrences(classes[i]));
    }
    j += "},\"findings\":[";
    for (std::size_t i = 0; i < report.findings.size(); ++i) {
        const jet::Finding& f = report.findings[i];
        if (i) j += ',';
        j += "{\"code\":";
        jet::appendJsonString(j, f.code);
        j += ",\"class\":\"" + jet::findingClassCode(f.kind) + "\",\"class_name\":";
        jet::appendJsonString(j, jet::findingClassName(f.kind));
        appendText(j, "table", f.table);
        appendText(j, "index", f.index);
        appendNumber(j, "page", f.page ? std::optional<std::uint64_t>(*f.page) : std::nullopt);
        j += ",\"row\":" + (f.row ? std::to_string(*f.row) : std::string("null"));
        appendNumber(j, "offset", f.offset ? std::optional<std::uint64_t>(*f.offset) : std::nullopt);
        j += ",\"expected\":" + (f.expected ? std::to_string(*f.expected) : std::string("null"));
        appendNumber(j, "occurrences", f.occurrences);
        j += ",\"text\":";
        jet::appendJsonString(j, f.message);
        j += ",\"line\":";
        jet::appendJsonString(j, f.describe());
        j += '}';
    }
    out << j << "]}\n";
}

void printText(const jet::CheckReport& report, std::ostream& out) {
    using jet::FindingClass;
    for (const jet::Finding& f : report.findings) out << f.describe() << "  {" << f.code << "}\n";
    out << "Verificação: " << counted(report.tablesChecked, "tabela", "tabelas") << ", "
        << counted(report.rowsChecked, "linha", "linhas") << " e " << counted(report.indexesChecked, "índice", "índices")
        << " em " << counted(report.pageCount, "página", "páginas") << " ("
        << counted(report.freePages, "livre", "livres") << ", " << counted(report.leakedPages, "perdida", "perdidas")
        << ").\n";
    const std::size_t leaks = report.occurrences(FindingClass::SpaceLeak);
    out << "Encontrados: " << counted(report.occurrences(FindingClass::Damage), "dano", "danos") << ", "
        << counted(leaks, "vazamento de espaço", "vazamentos de espaço");
    if (report.leakedPages > 0) out << " (" << counted(report.leakedPages, "página perdida", "páginas perdidas") << ")";
    out << ", "
        << counted(report.occurrences(FindingClass::StaleStatistic), "estatística desatualizada",
                   "estatísticas desatualizadas")
        << " e " << counted(report.occurrences(FindingClass::Unverified), "item não verificado", "itens não verificados")
        << ".\n";
    out << (report.hasDamage() ? "O banco de dados está danificado.\n" : "Nenhum dano encontrado.\n");
}

int usage(std::ostream& err, const std::string& problem) {
    err << "compactar check: " << problem << "\n"
        << "uso: compactar check ARQUIVO [--json | --quiet]\n";
    return kExitUsage;
}

}  // namespace

int runCheck(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return runCheck(args, std::cout, std::cerr);
}

int runCheck(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::optional<CheckOutput> output;
    std::vector<std::string> paths;
    bool optionsEnd = false;
    for (const std::string& a : args) {
        if (optionsEnd || a.empty() || a[0] != '-') {
            paths.push_back(a);
        } else if (a == "--") {
            optionsEnd = true;
        } else if (a == "--json" || a == "--quiet") {
            const CheckOutput wanted = a == "--json" ? CheckOutput::Json : CheckOutput::Quiet;
            if (output && *output != wanted) return usage(err, "--json e --quiet não podem ser usados juntos.");
            output = wanted;
        } else {
            return usage(err, "opção desconhecida: " + a);
        }
    }
    if (paths.size() != 1 || paths[0].empty())
        return usage(err, paths.empty() ? "falta o ARQUIVO." : "um ARQUIVO por vez.");
    const std::string& path = paths[0];
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
    switch (output.value_or(CheckOutput::Text)) {
        case CheckOutput::Text: printText(report, out); break;
        case CheckOutput::Json: printJson(path, report, out); break;
        case CheckOutput::Quiet: break;
    }
    return report.hasDamage() ? kExitFailure : kExitSuccess;
}

}  // namespace cli
