// Times a full integrity check and a full dump of each large bloated database
// against mdbtools dumping every table (mdb-export per table of mdb-tables -1) and
// against reading the file once (cat to /dev/null), all in the same run, and
// prints the ratios. Goals: check faster than mdbtools' dump, within 3x of cat.
#include <algorithm>
#include <chrono>
#include <functional>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

#include "jet/check/checker.h"
#include "jet/table/database.h"
#include "jet/table/value.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The best of three runs: a shared machine slows single runs at random, and each
// contender gets the same chance.
double secondsOf(const std::function<void()>& f) {
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        const auto t0 = Clock::now();
        f();
        const double s = std::chrono::duration<double>(Clock::now() - t0).count();
        if (run == 0 || s < best) best = s;
    }
    return best;
}

std::string quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

int run(const std::string& command) { return std::system(command.c_str()); }

std::vector<std::string> mdbTables(const std::string& db) {
    std::vector<std::string> tables;
    FILE* p = ::popen(("mdb-tables -1 " + quoted(db)).c_str(), "r");
    if (!p) return tables;
    char line[4096];
    while (std::fgets(line, sizeof line, p)) {
        std::string s(line);
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        if (!s.empty()) tables.push_back(s);
    }
    ::pclose(p);
    return tables;
}

// Our dump: every table, every row, every value in its canonical text, as TSV lines
// written to /dev/null.
std::size_t dumpAll(const std::string& path) {
    auto db = jet::Database::open(path);
    FILE* out = std::fopen("/dev/null", "w");
    std::size_t rows = 0;
    std::vector<jet::Value> values;
    std::string line;
    for (const jet::TableEntry& t : db->tables()) {
        if (!t.definition) continue;
        jet::TableCursor cur = db->cursor(t);
        while (cur.next()) {
            cur.values(values);
            line.clear();
            for (std::size_t i = 0; i < values.size(); ++i) {
                if (i) line += '\t';
                line += jet::canonicalText(values[i]);
            }
            line += '\n';
            std::fwrite(line.data(), 1, line.size(), out);
            ++rows;
        }
    }
    std::fclose(out);
    return rows;
}

void benchOne(const fs::path& packed, const fs::path& scratch) {
    const fs::path db = scratch / packed.stem();  // drops ".xz"
    std::cout << "== " << db.filename().string() << "\n";
    if (run("xz -dkc " + quoted(packed.string()) + " > " + quoted(db.string())) != 0) {
        std::cout << "   could not unpack " << packed << "; skipped\n";
        return;
    }
    const double mb = static_cast<double>(fs::file_size(db)) / (1024.0 * 1024.0);
    // The unpacked copy written out and read once: no contender shares the machine
    // with its writeback, and every one finds it in the page cache.
    run("sync " + quoted(db.string()));
    run("cat " + quoted(db.string()) + " > /dev/null");

    const double cat = secondsOf([&] { run("cat " + quoted(db.string()) + " > /dev/null"); });
    jet::CheckReport report;
    const double check = secondsOf([&] { report = jet::checkDatabase(db.string()); });
    std::size_t rows = 0;
    const double dump = secondsOf([&] { rows = dumpAll(db.string()); });
    const auto tables = mdbTables(db.string());
    const double mdb = secondsOf([&] {
        for (const std::string& t : tables)
            run("mdb-export " + quoted(db.string()) + " " + quoted(t) + " > /dev/null 2>&1");
    });

    std::printf("   %.1f MB, %zu rows checked, %zu rows dumped, %zu tables for mdbtools\n", mb, report.rowsChecked, rows,
                tables.size());
    std::printf("   findings: %zu damage, %zu leaks, %zu stale, %zu unverified; %u free and %u leaked pages\n",
                report.count(jet::FindingClass::Damage), report.count(jet::FindingClass::SpaceLeak),
                report.count(jet::FindingClass::StaleStatistic), report.count(jet::FindingClass::Unverified),
                report.freePages, report.leakedPages);
    std::printf("   cat %.3f s | check %.3f s | dump %.3f s | mdbtools dump %.3f s\n", cat, check, dump, mdb);
    std::printf("   check/cat %.2fx (goal <= 3) | check/mdbtools %.2fx (goal < 1) | dump/cat %.2fx | dump/mdbtools %.2fx\n",
                check / cat, check / mdb, dump / cat, dump / mdb);
    fs::remove(db);
}

}  // namespace

int main() {
    const fs::path data = COMPACTADOR_BENCH_DATA;
    if (!fs::is_directory(data)) {
        std::cout << "bench_check: no benchmark data at " << data << "; skipped\n";
        return 0;
    }
    std::vector<fs::path> packed;
    for (const auto& e : fs::directory_iterator(data))
        if (e.path().extension() == ".xz") packed.push_back(e.path());
    std::sort(packed.begin(), packed.end(), [](const fs::path& a, const fs::path& b) {
        return fs::file_size(a) < fs::file_size(b);
    });
    if (packed.empty()) {
        std::cout << "bench_check: no .xz databases in " << data << "; skipped\n";
        return 0;
    }
    const fs::path scratch = fs::temp_directory_path() / ("bench_check_" + std::to_string(::getpid()));
    fs::create_directories(scratch);
    for (const fs::path& p : packed) benchOne(p, scratch);
    fs::remove_all(scratch);
    return 0;
}
