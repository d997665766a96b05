#include "compact_commands.h"

#include <chrono>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <sstream>

#include <unistd.h>

#include "exit_status.h"
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

}  // namespace

int runCompact(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool showProgress) {
    if (args.size() != 2 || args[0].empty() || args[1].empty()) {
        err << "uso: compactar compact ORIGEM DESTINO\n";
        return kExitUsage;
    }
    if (!readableDatabase(args[0], err)) return kExitUnreadable;
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
        result = jet::compactDatabase(args[0], args[1], options);
    } catch (const jet::JetError& e) {
        if (!lastLine.empty()) err << '\n';
        err << "compactar: " << e.what() << '\n';
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
