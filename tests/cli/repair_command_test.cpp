// compactar repair, and compact --repair, as scripts run them: the built program on
// copies of a real Access file, one of them with a data page zeroed, judged by exit
// status, output and the files left behind.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "damaged_copy.h"
#include "program_run.h"
#include "temp_folder.h"

namespace {

using testing_support::fileExists;
using testing_support::folderNames;
using testing_support::ProgramRun;
using testing_support::readFile;
using testing_support::runProgram;
using testing_support::TempFolder;
using testing_support::withADataPageZeroed;
using testing_support::writeFile;

class RepairCommand : public ::testing::Test {
protected:
    RepairCommand() {
        testing_support::makeFolder(data);
        writeFile(source, original);
        writeFile(damaged, damagedBytes);
    }
    ProgramRun run(const std::vector<std::string>& arguments) { return runProgram(COMPACTAR_BINARY, arguments, scratch); }

    TempFolder scratch;
    std::string data = scratch / "dados";
    std::string source = data + "/loja.mdb";
    std::string damaged = data + "/danificado.mdb";
    std::string original = testing_support::corpusFile("jet4/testV2003.mdb");
    std::string damagedBytes = withADataPageZeroed(original, 4096);
};

TEST_F(RepairCommand, ASoundFileIsCopiedWithNothingToReport) {
    const std::string out = data + "/reparado.mdb";
    const ProgramRun r = run({"repair", source, out});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Nada a reparar além de estatísticas: " + out + "\n");
    EXPECT_TRUE(readFile(source) == original);
    EXPECT_EQ(run({"check", out}).status, 0);
}

TEST_F(RepairCommand, ADamagedFileIsRepairedIntoANewFileWithEveryLossListed) {
    ASSERT_NE(damagedBytes, original);
    const std::string out = data + "/reparado.mdb";
    ProgramRun r = run({"repair", damaged, out});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(", página "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Banco reparado: " + out + "; "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("páginas de dados ilegíveis"), std::string::npos) << r.out;
    EXPECT_TRUE(readFile(damaged) == damagedBytes) << "the source is only read";
    r = run({"check", out});
    EXPECT_EQ(r.status, 0) << r.out;
    r = run({"dump", out, "--table", "MSysCompactError"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("3049"), std::string::npos) << r.out;

    const std::string json = data + "/reparado2.mdb";
    r = run({"repair", damaged, json, "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("{\"source\":", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\"kind\":\"page_lost\""), std::string::npos) << r.out;
    EXPECT_EQ(r.out.back(), '\n');

    // Repairing the repaired file finds nothing more.
    r = run({"repair", out, data + "/de-novo.mdb"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Nada a reparar além de estatísticas: " + data + "/de-novo.mdb\n");
}

TEST_F(RepairCommand, NothingSavedBadUsageAndAnExistingDestination) {
    const std::string text = data + "/texto.mdb";
    writeFile(text, std::string(10000, 'x'));
    ProgramRun r = run({"repair", text, data + "/saida.mdb"});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(data + "/saida.mdb"));

    r = run({"repair", source});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("uso: compactar repair ORIGEM DESTINO [--json]"), std::string::npos) << r.err;

    writeFile(data + "/ocupado.mdb", "nao mexer");
    r = run({"repair", damaged, data + "/ocupado.mdb"});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(readFile(data + "/ocupado.mdb"), "nao mexer");
}

TEST_F(RepairCommand, CompactSendsADamagedSourceToTheRepairAndCompactRepairDoesBoth) {
    const std::string out = data + "/compacto.mdb";
    ProgramRun r = run({"compact", damaged, out});
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_NE(r.err.find("compactar repair " + damaged), std::string::npos) << r.err;
    EXPECT_FALSE(fileExists(out));

    r = run({"compact", "--repair", damaged, out});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Reparo: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Banco compactado: " + out), std::string::npos) << r.out;
    EXPECT_EQ(run({"check", out}).status, 0);
    EXPECT_TRUE(readFile(damaged) == damagedBytes);
    EXPECT_EQ(folderNames(data), (std::vector<std::string>{"compacto.mdb", "danificado.mdb", "loja.mdb"}))
        << "nothing is left beside the destination";
}

}  // namespace
