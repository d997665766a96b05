// compactar info and dump on real corpus files, driven in-process with string streams.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "inspect_commands.h"

namespace {

std::string corpus(const std::string& relative) { return std::string(COMPACTADOR_CORPUS_DIR) + "/" + relative; }

struct CommandRun {
    int status = 0;
    std::string out;
    std::string err;
};

CommandRun info(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    CommandRun r;
    r.status = cli::runInfo(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

CommandRun dump(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    CommandRun r;
    r.status = cli::runDump(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("inspect_test_" + std::to_string(rd()));
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

TEST(InfoCommand, DescribesNorthwind) {
    const CommandRun r = info({corpus("jet3/nwind.mdb")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Versão: Jet3 (Access 97)"), std::string::npos);
    EXPECT_NE(r.out.find("Tamanho da página: 2048 bytes"), std::string::npos);
    EXPECT_NE(r.out.find("Páginas: 1466"), std::string::npos);
    EXPECT_NE(r.out.find("Senha: não"), std::string::npos);
    EXPECT_NE(r.out.find("  Customers: 91 linhas, 6 índices"), std::string::npos);
    EXPECT_NE(r.out.find("  Order Details: 2155 linhas"), std::string::npos);
    EXPECT_NE(r.out.find("  MSysObjects [sistema]:"), std::string::npos);
    EXPECT_NE(r.out.find("Páginas livres: "), std::string::npos);
    EXPECT_NE(r.out.find("Espaço recuperável estimado: "), std::string::npos);
}

TEST(InfoCommand, ReportsStaleRowCountsAndRefusesBadInput) {
    const CommandRun calc = info({corpus("ace14/calcFieldTestV2010.accdb")});
    EXPECT_EQ(calc.status, 0) << calc.err;
    EXPECT_NE(calc.out.find("Table1: 4 linhas (a definição diz 3)"), std::string::npos);

    const CommandRun missing = info({"/nonexistent/db.mdb"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_EQ(missing.err, "compactar: o arquivo /nonexistent/db.mdb não existe\n");
    EXPECT_EQ(info({}).status, 2);
    EXPECT_EQ(info({"a", "b"}).status, 2);
}

TEST(DumpCommand, TsvOfOneTableWithEscapesAndNulls) {
    const CommandRun r = dump({corpus("jet4/DateTestDatabase.mdb"), "--table", "DateTest"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 7u);
    EXPECT_EQ(l[0], "IDCol\tDateTimeCol\tDateCol\tTimeCol\tLongTextCol\tShortTextCol");
    EXPECT_EQ(l[6], "6\t2021-12-02 00:00:00\t2021-12-02 00:00:00\t2021-12-02 00:00:00\tNew line\\r\\nin field\tNo new line");
    // A value holding a backslash sequence keeps it distinguishable from a real line break.
    EXPECT_EQ(l[5].substr(l[5].rfind('\t') + 1), "Escaped new line \\\\r\\\\n in field");

    const CommandRun customers = dump({corpus("jet3/nwind.mdb"), "--table", "customers", "--format", "tsv"});
    ASSERT_EQ(customers.status, 0);
    const auto c = lines(customers.out);
    ASSERT_EQ(c.size(), 92u);
    EXPECT_EQ(c[1], "ALFKI\tAlfreds Futterkiste\tMaria Anders\tSales Representative\tObere Str. 57\tBerlin\t\\N\t12209\t"
                    "Germany\t030-0074321\t030-0076545");
}

TEST(DumpCommand, JsonCanonicalForm) {
    const CommandRun r = dump({corpus("jet3/nwind.mdb"), "--table", "Shippers", "--format", "json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto l = lines(r.out);
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[0],
              "{\"table\":\"Shippers\",\"columns\":[{\"name\":\"ShipperID\",\"type\":\"long\"},{\"name\":\"CompanyName\","
              "\"type\":\"text\"},{\"name\":\"Phone\",\"type\":\"text\"}],\"rows\":[");
    EXPECT_EQ(l[1], "[1,\"Speedy Express\",\"(503) 555-9831\"],");
    EXPECT_EQ(l[4], "]}");

    const CommandRun money = dump({corpus("jet3/nwind.mdb"), "--table", "Products", "--format", "json"});
    ASSERT_EQ(money.status, 0);
    EXPECT_NE(lines(money.out)[1].find(",\"18.0000\","), std::string::npos);

    const CommandRun empty = dump({corpus("jet4/queryTestV2003.mdb"), "--table", "Table1", "--format", "json"});
    ASSERT_EQ(empty.status, 0) << empty.err;
    EXPECT_NE(empty.out.find("\"rows\":[]}"), std::string::npos);
}

TEST(DumpCommand, EveryTableIntoAFolder) {
    TempDir dir;
    const CommandRun r = dump({corpus("ace14/complexDataTestV2010.accdb"), "--output", dir.path().string(), "--format", "json"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        names.insert(cli::unescapeFileName(entry.path().stem().string()));
    // 1 user table and 28 system tables (MANIFEST.md).
    EXPECT_EQ(names.size(), 29u);
    EXPECT_TRUE(names.count("Table1"));
    EXPECT_TRUE(names.count("MSysObjects"));
    EXPECT_TRUE(names.count("MSysComplexColumns"));
    std::ifstream table1(dir.path() / "Table1.json");
    std::string first;
    std::getline(table1, first);
    EXPECT_EQ(first.rfind("{\"table\":\"Table1\"", 0), 0u);
}

TEST(DumpCommand, FileNamesEscapeReversibly) {
    for (const std::string& name : {std::string("a/b"), std::string(".hidden"), std::string("50% off"), std::string("tab\there"), std::string("nul\0x", 5),
                                   std::string("back\\slash"), std::string("Umsätze")}) {
        const std::string escaped = cli::escapeFileName(name);
        EXPECT_EQ(escaped.find('/'), std::string::npos) << escaped;
        EXPECT_EQ(escaped.find('\0'), std::string::npos) << escaped;
        EXPECT_NE(escaped.front(), '.');
        EXPECT_EQ(cli::unescapeFileName(escaped), name);
    }
    EXPECT_EQ(cli::escapeFileName("a/b"), "a%2Fb");
    EXPECT_EQ(cli::escapeFileName("Umsätze"), "Umsätze");
}

TEST(DumpCommand, UsageErrorsAndMissingTables) {
    EXPECT_EQ(dump({}).status, 2);
    EXPECT_EQ(dump({corpus("jet3/nwind.mdb")}).status, 2);
    EXPECT_EQ(dump({corpus("jet3/nwind.mdb"), "--table"}).status, 2);
    EXPECT_EQ(dump({corpus("jet3/nwind.mdb"), "--table", "Customers", "--format", "xml"}).status, 2);
    EXPECT_EQ(dump({"/nonexistent/db.mdb", "--table", "Customers"}).status, 3);
    const CommandRun missing = dump({corpus("jet3/nwind.mdb"), "--table", "NoSuchTable"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("NoSuchTable"), std::string::npos);
}

}  // namespace
