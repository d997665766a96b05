// The program's engine on real Access files: compaction through the real
// procedure, and the errors it turns engine failures into.
#include <gtest/gtest.h>

#include <filesystem>

#include "jet/compact/compactor.h"
#include "jet/table/database.h"
#include "jet/table/usage_map.h"
#include "jet_database_engine.h"
#include "procedure.h"
#include "program_engine.h"
#include "recording_sink.h"
#include "temp_folder.h"

namespace {

using testing_support::corpusFile;
using testing_support::fileExists;
using testing_support::folderNames;
using testing_support::makeFolder;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;

std::uint64_t rowsOf(const std::string& path, const std::string& table) {
    auto db = jet::Database::open(path);
    const jet::TableEntry* t = db->findTable(table);
    if (!t) return 0;
    std::uint64_t rows = 0;
    jet::TableCursor cursor = db->cursor(*t);
    while (cursor.next()) ++rows;
    return rows;
}

TEST(JetDatabaseEngineTest, ProcedureLeavesTheCompactedDatabaseAtItsPath) {
    TempFolder root;
    const std::string program = root / "programa";
    const std::string data = root / "dados";
    makeFolder(program);
    makeFolder(data);
    const std::string database = data + "/Pedidos.mdb";
    const std::string original = corpusFile("jet4/delTestV2003.mdb");
    writeFile(database, original);
    const std::string reference = root / "referencia.mdb";
    writeFile(root / "copia.mdb", original);
    jet::compactDatabase(root / "copia.mdb", reference);

    maintenance::Procedure procedure(maintenance::programEngineFactory(), [program] { return program; });
    testing_support::RecordingSink sink(database);
    procedure.run(sink);

    EXPECT_TRUE(sink.ended());
    EXPECT_EQ(sink.messages(), std::vector<std::string>{"Processo Concluido."});
    const std::string result = readFile(database);
    EXPECT_LT(result.size(), original.size());
    // Repair only mends statistics, which compaction recomputes anyway: the result is
    // exactly what compacting the original gives.
    EXPECT_TRUE(result == readFile(reference));
    EXPECT_EQ(rowsOf(database, "Table1"), rowsOf(root / "copia.mdb", "Table1"));
    EXPECT_EQ(folderNames(data), std::vector<std::string>{"Pedidos.mdb"});
}

// A damaged database through the real procedure: the repair writes it anew
// without the rows of its zeroed page, lists them in MSysCompactError, and says so
// before "Processo Concluido."; the backup holds the database as it was.
TEST(JetDatabaseEngineTest, ARepairThatDropsRowsSaysSoAndLeavesTheListInTheDatabase) {
    TempFolder root;
    const std::string program = root / "programa";
    const std::string data = root / "dados";
    makeFolder(program);
    makeFolder(data);
    const std::string database = data + "/Pedidos.mdb";
    writeFile(database, corpusFile("jet4/indexTestV2000.mdb"));
    std::uint32_t page = 0;
    std::uint64_t before = 0;
    {
        auto db = jet::Database::open(database);
        const jet::TableEntry* t = db->findTable("Table1");
        page = jet::UsageMap::read(db->file(), db->layout(), t->definition->ownedPagesMap).pages().at(0).value;
        before = rowsOf(database, "Table1");
    }
    std::string damaged = readFile(database);
    std::fill(damaged.begin() + page * 4096, damaged.begin() + (page + 1) * 4096, '\0');
    writeFile(database, damaged);

    maintenance::Procedure procedure(maintenance::programEngineFactory(), [program] { return program; });
    testing_support::RecordingSink sink(database);
    procedure.run(sink);

    EXPECT_TRUE(sink.ended());
    ASSERT_EQ(sink.messages().size(), 2u);
    EXPECT_NE(sink.messages()[0].find("MSysCompactError"), std::string::npos) << sink.messages()[0];
    EXPECT_NE(sink.messages()[0].find(program + "/compac01.mdb"), std::string::npos) << sink.messages()[0];
    EXPECT_EQ(sink.messages()[1], "Processo Concluido.");
    EXPECT_TRUE(readFile(program + "/compac01.mdb") == damaged);
    EXPECT_LT(rowsOf(database, "Table1"), before);
    EXPECT_GT(rowsOf(database, "MSysCompactError"), 0u);
}

TEST(JetDatabaseEngineTest, CompactFailuresLeaveNoDestinationAndCarryJetNumbers) {
    TempFolder root;
    maintenance::JetDatabaseEngine engine;

    const std::string notDatabase = root / "texto.mdb";
    writeFile(notDatabase, std::string(8192, 'x'));
    try {
        engine.compact(notDatabase, root / "saida1.mdb");
        FAIL() << "a text file must not compact";
    } catch (const maintenance::EngineError& e) {
        EXPECT_EQ(e.number(), 3343);
        EXPECT_NE(e.description().find("não reconhecido"), std::string::npos) << e.description();
    }
    EXPECT_FALSE(fileExists(root / "saida1.mdb"));

    try {
        engine.compact(root / "nao-existe.mdb", root / "saida2.mdb");
        FAIL() << "a missing file must not compact";
    } catch (const maintenance::EngineError& e) {
        EXPECT_EQ(e.number(), 3024);
    }
    EXPECT_FALSE(fileExists(root / "saida2.mdb"));

    // The destination is never overwritten: the engine refuses and leaves it as it was.
    const std::string source = root / "banco.mdb";
    writeFile(source, corpusFile("jet3/testV1997.mdb"));
    writeFile(root / "existente.mdb", "conteudo");
    EXPECT_THROW(engine.compact(source, root / "existente.mdb"), maintenance::EngineError);
    EXPECT_EQ(readFile(root / "existente.mdb"), "conteudo");

}

}  // namespace
