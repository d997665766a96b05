// One fuzz input = one database file: open it, read every table's rows and values
// (long values included), read every property blob, run the full check, then
// repair it (which may rewrite it, indexes built from the rows). Any JetError or
// RepairError is a correct answer to a damaged file; a crash, sanitizer report,
// leak or hang is a bug.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <unistd.h>

#include "jet/check/checker.h"
#include "jet/format/jet_error.h"
#include "jet/repair/repair.h"
#include "jet/table/database.h"

namespace {

std::string inputPath() {
    static const std::string path = "/tmp/jet_fuzz_input_" + std::to_string(::getpid()) + ".db";
    return path;
}

void readEverything(jet::Database& db) {
    std::vector<jet::Value> values;
    for (const jet::TableEntry& t : db.tables()) {
        if (!t.definition) continue;
        try {
            jet::TableCursor cur = db.cursor(t);
            while (cur.next()) cur.values(values);
        } catch (const jet::JetError&) {
        }
    }
    for (const jet::CatalogEntry& e : db.catalog()) {
        try {
            db.properties(e);
        } catch (const jet::JetError&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = inputPath();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return 0;
    if (size > 0) std::fwrite(data, 1, size, f);
    std::fclose(f);
    try {
        auto db = jet::Database::open(path);
        readEverything(*db);
        jet::Checker(*db).run();
    } catch (const jet::JetError&) {
    }
    try {
        jet::repairDatabase(path);
    } catch (const jet::RepairError&) {
    } catch (const jet::JetError&) {
    }
    return 0;
}
