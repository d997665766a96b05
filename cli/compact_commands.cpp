#include "compact_commands.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <sstream>

#include <unistd.h>

#include "exit_status.h"
#include "jet/repair/repair.h"
#include "repair_commands.h"
#include "jet/compact/compactor.h"
#include "jet/format/jet_error.h"
#include "readable_database.h"

namespace cli {

namespace {

std::string megabytes(std::uint64_t bytes) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(2) << static_cast<double>(bytes) / (1024.0 * 1024.0) << " MB";
    return s.str();
}

// A hidden name beside `destination` for the repaired copy that is then compacted.
std::filesystem::path repairedCopyBeside(const std::filesystem::path& destination) {
    for (int i = 0;; ++i) {
        std::filesystem::path candidate = destination.parent_path() / ("." + destination.filename().string() +
                                                                        ".reparado" + (i ? "-" + std::to_string(i) : ""));
        std::error_code ec;
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) return candidate;
    }
}

}  // namespace

int runCompact(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err, bool showProgress) {
    std::vector<std::string> args;
    bool repairFirst = false;
    for (const std::string& a : arguments) {
        if (a == "--repair") repairFirst = true;
        else args.push_back(a);
    }
    if (args.size() != 2 || args[0].empty() || args[1].empty()) {
        err << "uso: compactar compact [--repair] ORIGEM DESTINO\n";
        return kExitUsage;
    }
    if (!readableDatabase(args[0], err)) return kExitUnreadable;
    std::string source = args[0];
    std::filesystem::path repaired;
    struct RemoveRepaired {
        std::filesystem::path* path;
        ~RemoveRepaired() {
            std::error_code ec;
            if (!path->empty()) std::filesystem::remove(*path, ec);
        }
    } removeRepaired{&repaired};
    if (repairFirst) {
        repaired = repairedCopyBeside(std::filesystem::absolute(args[1]));
        try {
            const jet::RepairReport report = jet::repairDatabaseInto(args[0], repaired.string());
            for (const jet::RepairItem& item : report.items) out << repairItemLine(item) << '\n';
            if (!report.items.empty()) out << "Reparo: " << repairSummaryLine(report) << '\n';
        } catch (const jet::RepairError& e) {
            err << "compactar: Erro " << e.number() << " - " << e.what() << '\n';
            return kExitFailure;
        }
        source = repaired.string();
    }
    jet::CompactOptions options;
    std::string lastLine;
    if (showProgress) {
        options.progress = [&](const std::string& phase, std::uint64_t done, std::uint64_t total) {
            std::ostringstream line;
            line << phase;
            if (total > 0) line << ": " << done << " de " << total;
            else if (done > 0) line << ": " << done;
            std::string text = line.str();
            if (text == lastLine) return;
            const std::size_t width = std::max(lastLine.size(), text.size());
            lastLine = text;
            text.resize(width, ' ');
            err << '\r' << text << std::flush;
        };
    }
    const auto start = std::chrono::steady_clock::now();
    jet::CompactResult result;
    try {
        result = jet::compactDatabase(source, args[1], options);
    } catch (const jet::JetError& e) {
        if (!lastLine.empty()) err << '\n';
        err << "compactar: " << e.what() << '\n';
        if (e.kind() == jet::ErrorKind::Corruption && !repairFirst)
            err << "compactar: para recuperar o que ainda pode ser lido, use 'compactar repair " << args[0]
                << " DESTINO' ou 'compactar compact --repair " << args[0] << ' ' << args[1] << "'\n";
        // The source was found readable before: a failed read or write now is the
        // compaction's failure (a full disk, say), not an unreadable source.
        return e.kind() == jet::ErrorKind::Io ? kExitFailure : exitStatusOf(e);
    } catch (const std::exception& e) {
        if (!lastLine.empty()) err << '\n';
        err << "compactar: falha ao compactar: " << e.what() << '\n';
        return kExitFailure;
    }
    if (!lastLine.empty()) err << '\r' << std::string(lastLine.size(), ' ') << '\r' << std::flush;
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::int64_t reclaimed = std::int64_t{result.sourcePages} - std::int64_t{result.outputPages};
    out << "Banco compactado: " << args[1] << '\n'
        << "Tamanho antes:  " << megabytes(result.sourceBytes) << " (" << result.sourcePages << " páginas)\n"
        << "Tamanho depois: " << megabytes(result.outputBytes) << " (" << result.outputPages << " páginas)\n"
        << "Páginas recuperadas: " << reclaimed << '\n'
        << "Tabelas: " << result.tables << ", linhas: " << result.rows << '\n'
        << "Tempo: " << std::fixed << std::setprecision(2) << seconds << " s\n";
    return kExitSuccess;
}

int runCompact(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    return runCompact(args, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
}

}  // namespace cli
