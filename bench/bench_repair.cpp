// Repair speed and memory on the large bloated database with a few pages damaged
// on purpose, against baselines measured in the same run: compacting the undamaged
// file, and copying it with cp. Prints the repair's counts of what it could not keep.
//
//   bench_repair [FOLDER]   (FOLDER holds the .xz files; default: the shared bench folder)
//
// The damage: four data pages of the user table with the most data pages zeroed,
// and two leaf pages of its largest index filled with random bytes (fixed seed).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "jet/check/checker.h"
#include "jet/compact/compactor.h"
#include "jet/repair/repair.h"
#include "jet/table/database.h"
#include "jet/table/usage_map.h"

namespace fs = std::filesystem;

namespace {

struct Run {
    double seconds = 0;
    double cpuSeconds = 0;  // user + system time of the child, every thread
    long peakKib = 0;    // largest resident set of the child (wait4's ru_maxrss)
    int status = 0;
    std::string output;  // what the child handed back
};

// Runs `work` in a child process so its time and peak memory are its own. `work`
// fills the string it is given; the child sends it back through a pipe.
template <typename Work>
Run inChild(Work work) {
    int fds[2];
    if (::pipe(fds) != 0) return Run{0, 0, 0, 127, {}};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        int code = 1;
        std::string out;
        try {
            code = work(out);
        } catch (const std::exception& e) {
            std::cerr << "  failed: " << e.what() << "\n";
        }
        for (std::size_t done = 0; done < out.size();) {
            const ssize_t n = ::write(fds[1], out.data() + done, out.size() - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        ::close(fds[1]);
        std::_Exit(code);
    }
    ::close(fds[1]);
    Run run;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) run.output.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    struct rusage usage {};
    int status = 0;
    ::wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKib = usage.ru_maxrss;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return run;
}

Run shell(const std::string& command) {
    return inChild([&](std::string&) { return std::system(command.c_str()) == 0 ? 0 : 1; });
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

// The best of several runs of each contender, the contenders taken in turn round
// after round: the runs are short and the machine is shared, so a burst of load
// falls on all of them alike, and the fastest run of each is the least disturbed.
// A contender keeps its first run's output, the largest peak seen and any failure.
struct Contender {
    explicit Contender(std::function<Run()> m) : measure(std::move(m)) {}
    std::function<Run()> measure;
    Run best;
    bool measured = false;
};

void runRounds(std::vector<Contender*> contenders, int rounds) {
    for (int round = 0; round < rounds; ++round)
        for (Contender* c : contenders) {
            Run r = c->measure();
            if (!c->measured) {
                c->best = std::move(r);
                c->measured = true;
                continue;
            }
            const long peak = std::max(c->best.peakKib, r.peakKib);
            if (r.status != 0) {
                c->best.status = r.status;
            } else if (c->best.status == 0) {
                c->best.seconds = std::min(c->best.seconds, r.seconds);
                c->best.cpuSeconds = std::min(c->best.cpuSeconds, r.cpuSeconds);
            }
            c->best.peakKib = peak;
        }
}

constexpr int kRounds = 7;

double mib(long kib) { return static_cast<double>(kib) / 1024.0; }

long residentKib() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1) break;
    std::fclose(f);
    return kib;
}

// What was damaged, and the rows the damage should cost.
struct Damage {
    std::string table;
    std::uint32_t tablePages = 0;  // its data pages
    std::uint64_t tableRows = 0;   // its live rows in the undamaged file
    std::uint64_t rowsOnZeroed = 0;
    std::vector<std::uint32_t> zeroed;
    std::vector<std::uint32_t> garbled;
};

// Picks the pages to damage in `source` and writes the damage into `copy` (same
// bytes as `source`). Runs in a child: the database it opens stays out of the
// parent, whose resident pages every later child would start with.
Run damageCopy(const std::string& source, const std::string& copy) {
    return inChild([&](std::string& out) {
        auto db = jet::Database::open(source);
        jet::PageFile& file = db->file();
        const std::size_t pageSize = file.pageSize();
        const auto ownedBy = [&](std::uint32_t p, std::uint8_t type, std::uint32_t owner) {
            const jet::PageRef page = file.page(jet::PageNumber(p));
            const auto b = page->span();
            const std::uint32_t o = std::uint32_t{b[4]} | (std::uint32_t{b[5]} << 8) | (std::uint32_t{b[6]} << 16) |
                                    (std::uint32_t{b[7]} << 24);
            return b[0] == type && (owner == 0 || o == owner);
        };

        // The user table with the most data pages.
        const jet::TableEntry* biggest = nullptr;
        std::vector<std::uint32_t> dataPages;
        for (const jet::TableEntry& t : db->tables()) {
            if (t.isSystem() || !t.definition) continue;
            std::vector<std::uint32_t> pages;
            const jet::UsageMap owned = jet::UsageMap::read(file, db->layout(), t.definition->ownedPagesMap);
            for (jet::PageNumber p : owned.pages())
                if (ownedBy(p.value, 0x01, t.definition->tdefPage.value)) pages.push_back(p.value);
            if (pages.size() > dataPages.size()) {
                biggest = &t;
                dataPages = std::move(pages);
            }
        }
        if (!biggest || dataPages.size() < 5) return 1;
        Damage d;
        d.table = biggest->name();
        d.tablePages = static_cast<std::uint32_t>(dataPages.size());
        for (std::size_t i = 1; i <= 4; ++i) d.zeroed.push_back(dataPages[i * dataPages.size() / 5]);

        // Two leaf pages of its index with the most pages.
        std::vector<std::uint32_t> leaves;
        for (const jet::PhysicalIndex& index : biggest->definition->physicalIndexes) {
            std::vector<std::uint32_t> pages;
            const jet::UsageMap tree = jet::UsageMap::read(file, db->layout(), index.usageMap);
            for (jet::PageNumber p : tree.pages())
                if (ownedBy(p.value, 0x04, 0)) pages.push_back(p.value);
            if (pages.size() > leaves.size()) leaves = std::move(pages);
        }
        if (leaves.size() < 3) return 1;
        d.garbled = {leaves[leaves.size() / 3], leaves[2 * leaves.size() / 3]};

        // The rows those data pages hold (listed there, or moved there by an overflow).
        const std::set<std::uint32_t> zeroed(d.zeroed.begin(), d.zeroed.end());
        jet::TableCursor cursor = db->cursor(*biggest);
        while (cursor.next()) {
            ++d.tableRows;
            if (zeroed.count(cursor.location().page.value) || zeroed.count(cursor.dataLocation().page.value))
                ++d.rowsOnZeroed;
        }

        const int fd = ::open(copy.c_str(), O_WRONLY);
        if (fd < 0) return 1;
        std::vector<std::uint8_t> page(pageSize, 0);
        bool written = true;
        for (std::uint32_t p : d.zeroed)
            written = written && ::pwrite(fd, page.data(), pageSize, static_cast<off_t>(p) * static_cast<off_t>(pageSize)) ==
                                     static_cast<ssize_t>(pageSize);
        std::mt19937 random(20261209);
        for (std::uint32_t p : d.garbled) {
            for (std::uint8_t& b : page) b = static_cast<std::uint8_t>(random());
            written = written && ::pwrite(fd, page.data(), pageSize, static_cast<off_t>(p) * static_cast<off_t>(pageSize)) ==
                                     static_cast<ssize_t>(pageSize);
        }
        written = ::fsync(fd) == 0 && written;
        ::close(fd);
        if (!written) return 1;

        std::ostringstream s;
        s << d.table << '\n' << d.tablePages << ' ' << d.tableRows << ' ' << d.rowsOnZeroed << '\n';
        for (std::uint32_t p : d.zeroed) s << p << ' ';
        s << '\n';
        for (std::uint32_t p : d.garbled) s << p << ' ';
        s << '\n';
        out = s.str();
        return 0;
    });
}

Damage parseDamage(const std::string& text) {
    Damage d;
    std::istringstream in(text);
    std::getline(in, d.table);
    std::string line;
    std::getline(in, line);
    std::istringstream(line) >> d.tablePages >> d.tableRows >> d.rowsOnZeroed;
    for (auto* list : {&d.zeroed, &d.garbled}) {
        std::getline(in, line);
        std::istringstream pages(line);
        for (std::uint32_t p; pages >> p;) list->push_back(p);
    }
    return d;
}

std::string pageList(const std::vector<std::uint32_t>& pages) {
    std::string s;
    for (std::uint32_t p : pages) s += (s.empty() ? "" : ", ") + std::to_string(p);
    return s;
}

const char* kindName(jet::RepairItem::Kind kind) {
    using K = jet::RepairItem::Kind;
    switch (kind) {
        case K::RowDropped: return "rows dropped";
        case K::ValueCut: return "values cut";
        case K::ValueNulled: return "values nulled";
        case K::TableLost: return "tables lost";
        case K::TableRenamed: return "tables renamed";
        case K::RowsSetAside: return "rows set aside";
        case K::CatalogRowLost: return "catalog rows lost";
        case K::PageLost: return "pages lost";
    }
    return "?";
}

// The report's counts, as lines of text (the repair runs in a child).
std::string describe(const jet::RepairReport& report) {
    std::map<std::string, std::pair<std::size_t, std::uint64_t>> byKind;  // items, rows they stand for
    for (const jet::RepairItem& i : report.items) {
        auto& k = byKind[kindName(i.kind)];
        ++k.first;
        k.second += i.count;
    }
    std::ostringstream s;
    s << "  report: " << report.items.size() << " items, " << report.rowsDropped() << " rows dropped, "
      << report.valuesChanged() << " values changed, " << report.tablesAffected() << " tables affected, rewritten: "
      << (report.rewritten ? "yes" : "no") << '\n';
    for (const auto& [kind, k] : byKind) s << "    " << kind << ": " << k.first << " items, count " << k.second << '\n';
    for (const jet::RepairItem& i : report.items)
        if (i.kind == jet::RepairItem::Kind::PageLost)
            s << "    page lost: " << i.table << " page " << (i.page ? std::to_string(*i.page) : "?") << ", count "
              << i.count << (i.count == 0 ? " (its rows are not counted in rows dropped)" : "") << '\n';
    return s.str();
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path data = argc > 1 ? fs::path(argv[1]) : fs::path(COMPACTADOR_BENCH_DATA);
    const std::string big = "v2003-200mb.mdb";
    if (!fs::exists(data / (big + ".xz"))) {
        std::cout << "bench_repair: " << (data / (big + ".xz")).string() << " not found, skipped\n";
        return 0;
    }
    char tmpl[] = "/tmp/bench-repair-XXXXXX";
    if (!::mkdtemp(tmpl)) return 1;
    const fs::path dir = tmpl;
    const std::string source = (dir / big).string();
    const std::string damaged = (dir / ("danificado-" + big)).string();
    const std::string compacted = (dir / ("compactado-" + big)).string();
    const std::string repaired = (dir / ("reparado-" + big)).string();
    const std::string copied = (dir / "copia.mdb").string();

    std::cout << "unpacking " << big << "...\n" << std::flush;
    if (std::system(("xz -dkc " + quoted((data / (big + ".xz")).string()) + " > " + quoted(source)).c_str()) != 0)
        return 1;
    fs::copy_file(source, damaged);
    const Run damaging = damageCopy(source, damaged);
    if (damaging.status != 0) {
        std::cout << "bench_repair: could not damage the copy\n";
        fs::remove_all(dir);
        return 1;
    }
    const Damage damage = parseDamage(damaging.output);

    // Flush the files and warm the page cache, so every contender reads from
    // memory and flushes only what it writes itself.
    shell("sync; cat " + quoted(source) + " " + quoted(damaged) + " > /dev/null");
    const long parentKib = residentKib();

    Contender copy{[&] {
        fs::remove(copied);
        return shell("cp " + quoted(source) + " " + quoted(copied) + " && sync " + quoted(copied));
    }};
    Contender compaction{[&] {
        fs::remove(compacted);
        return inChild([&](std::string& out) {
            const jet::CompactResult r = jet::compactDatabase(source, compacted);
            out = std::to_string(r.rows) + " rows, " + std::to_string(r.outputBytes) + " bytes";
            return 0;
        });
    }};
    Contender repair{[&] {
        fs::remove(repaired);
        return inChild([&](std::string& out) {
            out = describe(jet::repairDatabaseInto(damaged, repaired));
            return 0;
        });
    }};
    // Where the repair's time goes: it checks the file in full to decide what to
    // do, then compacts it in salvage mode (which checks its result in full).
    Contender diagnosis{[&] {
        return inChild([&](std::string&) {
            jet::CheckOptions options;
            options.maxFindingsPerKind = static_cast<std::size_t>(-1);
            auto db = jet::Database::open(damaged);
            jet::Checker(*db, options).run();
            return 0;
        });
    }};
    const std::string salvaged = (dir / ("salvo-" + big)).string();
    const auto salvageRun = [&](bool checkResult) {
        fs::remove(salvaged);
        return inChild([&](std::string&) {
            jet::CompactOptions options;
            options.salvage = true;
            options.checkResult = checkResult;
            jet::compactDatabase(damaged, salvaged, options);
            return 0;
        });
    };
    Contender salvage{[&] { return salvageRun(true); }};
    Contender salvageUnchecked{[&] { return salvageRun(false); }};
    runRounds({&copy, &compaction, &repair, &diagnosis, &salvage, &salvageUnchecked}, kRounds);
    fs::remove(copied);
    fs::remove(salvaged);

    // The repaired file: no damage, and the rows of the damaged table it kept.
    const Run verdict = repair.best.status != 0 ? Run{0, 0, 0, 1, {}} : inChild([&](std::string& out) {
        const jet::CheckReport report = jet::checkDatabase(repaired);
        auto db = jet::Database::open(repaired);
        std::uint64_t rows = 0;
        if (const jet::TableEntry* t = db->findTable(damage.table); t && t->definition) {
            jet::TableCursor cursor = db->cursor(*t);
            while (cursor.next()) ++rows;
        }
        out = std::to_string(rows) + (report.hasDamage() ? " DAMAGE" : " no damage");
        return report.hasDamage() ? 1 : 0;
    });

    std::printf("\n%s (%.1f MiB), damaged copy: table %s (%u data pages, %llu rows)\n", big.c_str(),
                static_cast<double>(fs::file_size(source)) / (1024.0 * 1024.0), damage.table.c_str(), damage.tablePages,
                static_cast<unsigned long long>(damage.tableRows));
    std::printf("  data pages zeroed:              %s (%llu rows on them)\n", pageList(damage.zeroed).c_str(),
                static_cast<unsigned long long>(damage.rowsOnZeroed));
    std::printf("  index leaf pages garbled:       %s\n", pageList(damage.garbled).c_str());
    std::printf("%s", repair.best.output.c_str());
    std::printf("  repaired file: %s rows left in %s (expected %llu), check: %s\n",
                verdict.output.empty() ? "?" : verdict.output.substr(0, verdict.output.find(' ')).c_str(),
                damage.table.c_str(), static_cast<unsigned long long>(damage.tableRows - damage.rowsOnZeroed),
                verdict.status == 0 ? "no damage" : "DAMAGE or failed");
    std::printf("\n  best of %d runs each, taken in turn; peaks are the largest seen\n", kRounds);
    std::printf("  %-38s %8s %8s %10s\n", "", "wall s", "cpu s", "peak MiB");
    const auto line = [](const char* name, const Run& r) {
        std::printf("  %-38s %8.2f %8.2f %10.1f%s\n", name, r.seconds, r.cpuSeconds, mib(r.peakKib),
                    r.status ? "  [failed]" : "");
    };
    line("cp (+ sync of the copy)", copy.best);
    line("compaction, undamaged", compaction.best);
    line("repair, damaged copy", repair.best);
    std::printf("  the repair's two steps, alone:\n");
    line("  full check of the damaged copy", diagnosis.best);
    line("  salvage compaction", salvage.best);
    line("  salvage compaction, result unchecked", salvageUnchecked.best);
    std::printf("  compaction: %s\n", compaction.best.output.c_str());
    std::printf("\n  compaction / cp                    %6.2f\n", compaction.best.seconds / copy.best.seconds);
    std::printf("  repair / cp                        %6.2f\n", repair.best.seconds / copy.best.seconds);
    std::printf("  repair / compaction                %6.2f  (goal <= 2.0; cpu time %.2f)\n",
                repair.best.seconds / compaction.best.seconds, repair.best.cpuSeconds / compaction.best.cpuSeconds);
    std::printf("  repair peak memory                 %6.1f MiB  (goal < 128; the bench held %.1f MiB when it forked)\n",
                mib(repair.best.peakKib), mib(parentKib));
    fs::remove_all(dir);
    return copy.best.status == 0 && compaction.best.status == 0 && repair.best.status == 0 && diagnosis.best.status == 0 &&
                   salvage.best.status == 0 && salvageUnchecked.best.status == 0 && verdict.status == 0
               ? 0
               : 1;
}
