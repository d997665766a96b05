// compactar dump on a copy of a real Access file with one data page zeroed, run as
// a script runs it: every row outside the page must come out, none made up, and
// the table that could not be read whole must be named on standard error.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "damaged_copy.h"
#include "inspect_commands.h"
#include "jet/table/database.h"
#include "program_run.h"
#include "temp_folder.h"

namespace {

using testing_support::folderNames;
using testing_support::makeFolder;
using testing_support::ProgramRun;
using testing_support::readFile;
using testing_support::runProgram;
using testing_support::TempFolder;
using testing_support::writeFile;

ProgramRun runCompactar(const std::vector<std::string>& arguments, const TempFolder& scratch) {
    return runProgram(COMPACTAR_BINARY, arguments, scratch);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

struct Corpus {
    const char* file;
    std::size_t pageSize;
};

struct Row {
    jet::RowPointer slot;  // where the row is listed
    jet::RowPointer data;  // where its bytes are
};

class DumpOfADamagedFile : public ::testing::TestWithParam<Corpus> {
protected:
    DumpOfADamagedFile() {
        makeFolder(data);
        writeFile(sound, original);
        // The user table on most pages loses a page from the middle of them: rows
        // come before and after it. Rows are marked in the order dump writes them.
        const auto db = jet::Database::open(sound);
        std::size_t mostPages = 0;
        for (const jet::TableEntry& t : db->tables()) {
            if (!t.definition || t.isSystem()) continue;
            std::vector<Row> rows;
            std::set<std::uint32_t> pages;
            jet::TableCursor cursor = db->cursor(t);
            while (cursor.next()) {
                rows.push_back(Row{cursor.location(), cursor.dataLocation()});
                pages.insert(cursor.location().page.value);
            }
            if (pages.size() <= mostPages) continue;
            mostPages = pages.size();
            table = t.name();
            victim = *std::next(pages.begin(), static_cast<std::ptrdiff_t>(pages.size() / 2));
            tableRows = rows;
            rowOnVictim.clear();
            for (const Row& r : rows) rowOnVictim.push_back(r.slot.page.value == victim || r.data.page.value == victim);
        }
        if (victim != 0) writeFile(damaged, testing_support::withPageZeroed(original, victim, GetParam().pageSize));
    }

    // The sound file's dump of the damaged table, the rows of the zeroed page left out.
    std::string expectedDump(const std::string& soundDump) const {
        const std::vector<std::string> all = lines(soundDump);
        EXPECT_EQ(all.size(), rowOnVictim.size() + 1);
        std::string out = all.at(0) + "\n";
        for (std::size_t i = 1; i < all.size() && i <= rowOnVictim.size(); ++i)
            if (!rowOnVictim[i - 1]) out += all[i] + "\n";
        return out;
    }

    // Every file of a --output folder, by name.
    std::vector<std::pair<std::string, std::string>> dumpFolder(const std::string& folder) const {
        std::vector<std::pair<std::string, std::string>> files;
        for (const std::string& name : folderNames(folder)) files.emplace_back(name, readFile(folder + "/" + name));
        return files;
    }

    TempFolder scratch;
    std::string data = scratch / "dados";
    std::string sound = data + "/loja.mdb";
    std::string damaged = data + "/danificado.mdb";
    std::string original = testing_support::corpusFile(GetParam().file);
    std::size_t victim = 0;
    std::string table;
    std::vector<Row> tableRows;     // the damaged table's rows, in dump order
    std::vector<bool> rowOnVictim;  // the same, whether it lives on the zeroed page
};

TEST_P(DumpOfADamagedFile, PlainDumpNamesTheTableAndPageAndKeepsEveryOtherRow) {
    ASSERT_NE(victim, 0u) << "no user table with rows found";
    const auto lost = std::count(rowOnVictim.begin(), rowOnVictim.end(), true);
    ASSERT_GT(lost, 0);
    ASSERT_LT(static_cast<std::size_t>(lost), rowOnVictim.size()) << "rows on other pages too";
    const ProgramRun soundRun = runCompactar({"dump", sound, "--table", table}, scratch);
    ASSERT_EQ(soundRun.status, 0) << soundRun.err;
    EXPECT_EQ(soundRun.err, "");

    const ProgramRun run = runCompactar({"dump", damaged, "--table", table}, scratch);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, expectedDump(soundRun.out));
    const std::vector<std::string> complaint = lines(run.err);
    ASSERT_EQ(complaint.size(), 1u) << run.err;
    EXPECT_NE(complaint[0].find(damaged), std::string::npos) << run.err;
    EXPECT_NE(complaint[0].find("a tabela " + table + " não foi lida inteira"), std::string::npos) << run.err;
    EXPECT_NE(complaint[0].find("a página " + std::to_string(victim) + " "), std::string::npos) << run.err;
}

TEST_P(DumpOfADamagedFile, EveryOtherTableIsStillDumpedIntoTheFolder) {
    ASSERT_NE(victim, 0u);
    const std::string soundFolder = scratch / "sao", damagedFolder = scratch / "danificado";
    const ProgramRun soundRun = runCompactar({"dump", sound, "--output", soundFolder}, scratch);
    ASSERT_EQ(soundRun.status, 0) << soundRun.err;
    const ProgramRun run = runCompactar({"dump", damaged, "--output", damagedFolder}, scratch);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(lines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find("a tabela " + table + " "), std::string::npos) << run.err;

    const auto expected = dumpFolder(soundFolder), got = dumpFolder(damagedFolder);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].first, expected[i].first);
        if (got[i].first == cli::escapeFileName(table) + ".tsv") EXPECT_EQ(got[i].second, expectedDump(expected[i].second));
        else EXPECT_EQ(got[i].second, expected[i].second) << got[i].first;
    }
}

TEST_P(DumpOfADamagedFile, SalvageGivesTheSameRowsAndListsThePageLeftOut) {
    ASSERT_NE(victim, 0u);
    const ProgramRun soundRun = runCompactar({"dump", sound, "--table", table}, scratch);
    ASSERT_EQ(soundRun.status, 0) << soundRun.err;

    const ProgramRun run = runCompactar({"dump", damaged, "--table", table, "--salvage"}, scratch);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, expectedDump(soundRun.out));
    const std::vector<std::string> losses = lines(run.err);
    ASSERT_EQ(losses.size(), 1u) << run.err;
    EXPECT_EQ(losses[0].rfind("compactar: " + damaged + ": tabela " + table + ", página " + std::to_string(victim) + ": ",
                              0),
              0u)
        << run.err;
}

TEST_P(DumpOfADamagedFile, SalvageOfEveryTableMatchesThePlainDump) {
    ASSERT_NE(victim, 0u);
    const std::string plainFolder = scratch / "normal", salvageFolder = scratch / "salvamento";
    const ProgramRun plain = runCompactar({"dump", damaged, "--output", plainFolder}, scratch);
    EXPECT_EQ(plain.status, 1) << plain.err;
    const ProgramRun salvage = runCompactar({"dump", damaged, "--output", salvageFolder, "--salvage"}, scratch);
    EXPECT_EQ(salvage.status, 1) << salvage.err;
    EXPECT_EQ(lines(salvage.err).size(), 1u) << salvage.err;
    EXPECT_EQ(dumpFolder(salvageFolder), dumpFolder(plainFolder));
}

TEST_P(DumpOfADamagedFile, ASoundFileDumpsTheSameWithOrWithoutSalvage) {
    for (const char* format : {"tsv", "json"}) {
        const std::string plainFolder = scratch / (std::string("normal.") + format);
        const std::string salvageFolder = scratch / (std::string("salvamento.") + format);
        const ProgramRun plain = runCompactar({"dump", sound, "--output", plainFolder, "--format", format}, scratch);
        EXPECT_EQ(plain.status, 0) << plain.err;
        EXPECT_EQ(plain.err, "");
        const ProgramRun salvage =
            runCompactar({"dump", sound, "--output", salvageFolder, "--format", format, "--salvage"}, scratch);
        EXPECT_EQ(salvage.status, 0) << salvage.err;
        EXPECT_EQ(salvage.err, "");
        EXPECT_FALSE(dumpFolder(plainFolder).empty());
        EXPECT_EQ(dumpFolder(salvageFolder), dumpFolder(plainFolder)) << format;
    }
}

TEST_P(DumpOfADamagedFile, ARowThatDoesNotDecodeEndsThePlainDumpOfItsTableButNotTheSalvage) {
    // Jet4 and ACE count a row's columns in two bytes: 0xFFFF wants a null mask
    // larger than any page. Jet3's one byte cannot be made too large for every row.
    if (GetParam().pageSize != 4096) GTEST_SKIP() << "Jet3 column counts are one byte";
    ASSERT_NE(victim, 0u);
    std::vector<std::size_t> onVictim;
    for (std::size_t i = 0; i < tableRows.size(); ++i)
        if (tableRows[i].slot.page.value == victim && tableRows[i].slot == tableRows[i].data) onVictim.push_back(i);
    ASSERT_FALSE(onVictim.empty());
    const std::size_t bad = onVictim[onVictim.size() / 2];
    const unsigned slot = tableRows[bad].slot.row;
    std::string bytes = original;
    const std::size_t page = victim * 4096;
    const std::size_t rowStart =
        (static_cast<unsigned char>(bytes[page + 0x0E + 2 * slot]) | static_cast<unsigned char>(bytes[page + 0x0F + 2 * slot]) << 8) &
        0x1FFF;
    bytes[page + rowStart] = bytes[page + rowStart + 1] = '\xFF';
    writeFile(damaged, bytes);

    const ProgramRun soundRun = runCompactar({"dump", sound, "--table", table}, scratch);
    ASSERT_EQ(soundRun.status, 0) << soundRun.err;
    const std::vector<std::string> all = lines(soundRun.out);
    ASSERT_EQ(all.size(), tableRows.size() + 1);
    std::string before, allButBad;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (i <= bad) before += all[i] + "\n";
        if (i != bad + 1) allButBad += all[i] + "\n";
    }
    const std::string place = "página " + std::to_string(victim) + ", linha " + std::to_string(slot);

    const ProgramRun plain = runCompactar({"dump", damaged, "--table", table}, scratch);
    EXPECT_EQ(plain.status, 1) << plain.err;
    EXPECT_EQ(plain.out, before);
    ASSERT_EQ(lines(plain.err).size(), 1u) << plain.err;
    EXPECT_NE(plain.err.find(damaged + ": a tabela " + table + " não foi lida inteira: "), std::string::npos) << plain.err;
    EXPECT_NE(plain.err.find("na " + place + ", depois de " + std::to_string(bad) + " linhas"), std::string::npos)
        << plain.err;

    const ProgramRun salvage = runCompactar({"dump", damaged, "--table", table, "--salvage"}, scratch);
    EXPECT_EQ(salvage.status, 1) << salvage.err;
    EXPECT_EQ(salvage.out, allButBad);
    ASSERT_EQ(lines(salvage.err).size(), 1u) << salvage.err;
    EXPECT_EQ(salvage.err.rfind("compactar: " + damaged + ": tabela " + table + ", " + place + ": ", 0), 0u)
        << salvage.err;
}

INSTANTIATE_TEST_SUITE_P(Files, DumpOfADamagedFile,
                         ::testing::Values(Corpus{"jet3/nwind.mdb", 2048}, Corpus{"jet4/compIndexTestV2003.mdb", 4096},
                                           Corpus{"ace14/compIndexTestV2010.accdb", 4096}),
                         [](const auto& info) { return std::string(info.index == 0 ? "Jet3" : info.index == 1 ? "Jet4" : "Ace"); });

// nwind's Employees keep their photos in chains of long-value rows: zeroing the
// page of a chain's second row leaves the row itself sound and its photo broken.
TEST(DumpOfADamagedLongValue, PlainDumpStopsAtTheRowAndSalvageWritesTheValueAsNull) {
    TempFolder scratch;
    const std::string data = scratch / "dados", sound = data + "/loja.mdb", damaged = data + "/danificado.mdb";
    const std::string original = testing_support::corpusFile("jet3/nwind.mdb");
    makeFolder(data);
    writeFile(sound, original);

    // For each row of the table, in dump order: where it is listed and the TSV
    // fields of its long values that have a row on the page to be zeroed.
    struct Broken {
        jet::RowPointer slot;
        std::vector<std::size_t> fields;
        std::vector<std::string> columns;
    };
    std::vector<Broken> rows;
    std::uint32_t victim = 0;
    {
        const auto db = jet::Database::open(sound);
        const jet::TableEntry* table = db->findTable("Employees");
        ASSERT_TRUE(table && table->definition);
        const std::vector<const jet::Column*> columns = table->definition->columnsByNumber();
        std::vector<std::vector<std::vector<jet::LongValueSegment>>> segments;  // row, field, segment
        jet::TableCursor cursor = db->cursor(*table);
        while (cursor.next()) {
            auto& ofRow = segments.emplace_back(columns.size());
            for (std::size_t f = 0; f < columns.size(); ++f) {
                const jet::FieldBytes& field = cursor.fields().fields[columns[f]->blockIndex];
                if (!columns[f]->isLongValue() || !field.present) continue;
                db->values().longValues().read(field.bytes, {}, &ofRow[f]);
                if (victim == 0 && ofRow[f].size() >= 2) victim = ofRow[f][1].row.page.value;
            }
            rows.push_back(Broken{cursor.location(), {}, {}});
        }
        ASSERT_NE(victim, 0u) << "no long value in a chain";
        for (std::size_t r = 0; r < rows.size(); ++r)
            for (std::size_t f = 0; f < columns.size(); ++f)
                for (const jet::LongValueSegment& s : segments[r][f])
                    if (s.row.page.value == victim) {
                        rows[r].fields.push_back(f);
                        rows[r].columns.push_back(columns[f]->name);
                        break;
                    }
    }
    writeFile(damaged, testing_support::withPageZeroed(original, victim, 2048));

    const ProgramRun soundRun = runCompactar({"dump", sound, "--table", "Employees"}, scratch);
    ASSERT_EQ(soundRun.status, 0) << soundRun.err;
    const std::vector<std::string> all = lines(soundRun.out);
    ASSERT_EQ(all.size(), rows.size() + 1);
    std::size_t firstBroken = rows.size();
    std::string before = all[0] + "\n", nulled = all[0] + "\n";
    std::vector<std::string> losses;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        if (!rows[r].fields.empty() && firstBroken == rows.size()) firstBroken = r;
        if (firstBroken == rows.size()) before += all[r + 1] + "\n";
        std::vector<std::string> fields;
        std::istringstream in(all[r + 1]);
        for (std::string field; std::getline(in, field, '\t');) fields.push_back(field);
        for (std::size_t f : rows[r].fields) fields.at(f) = "\\N";
        for (std::size_t f = 0; f < fields.size(); ++f) nulled += (f ? "\t" : "") + fields[f];
        nulled += "\n";
        for (const std::string& column : rows[r].columns)
            losses.push_back("compactar: " + damaged + ": tabela Employees, página " +
                             std::to_string(rows[r].slot.page.value) + ", linha " + std::to_string(rows[r].slot.row) +
                             ", coluna " + column + ": o valor longo da coluna " + column +
                             " não pôde ser lido inteiro e ficou vazio (NULL)");
    }
    ASSERT_LT(firstBroken, rows.size());

    const ProgramRun plain = runCompactar({"dump", damaged, "--table", "Employees"}, scratch);
    EXPECT_EQ(plain.status, 1) << plain.err;
    EXPECT_EQ(plain.out, before);
    ASSERT_EQ(lines(plain.err).size(), 1u) << plain.err;
    const Broken& stop = rows[firstBroken];
    EXPECT_NE(plain.err.find("a tabela Employees não foi lida inteira: a leitura parou na página " +
                             std::to_string(stop.slot.page.value) + ", linha " + std::to_string(stop.slot.row) +
                             ", depois de " + std::to_string(firstBroken) + " linhas: o valor da coluna " +
                             stop.columns.front() + " não pôde ser lido (a página " + std::to_string(victim) +
                             " está danificada)"),
              std::string::npos)
        << plain.err;

    const ProgramRun salvage = runCompactar({"dump", damaged, "--table", "Employees", "--salvage"}, scratch);
    EXPECT_EQ(salvage.status, 1) << salvage.err;
    EXPECT_EQ(salvage.out, nulled);
    EXPECT_EQ(lines(salvage.err), losses);
}

}  // namespace
