// compactar check and compactar compact as scripts run them: the built program on
// copies of real Access files in a temp folder, judged by exit status, output
// streams and the files left behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
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

ProgramRun runCompactar(const std::vector<std::string>& arguments, const TempFolder& scratch) {
    return runProgram(COMPACTAR_BINARY, arguments, scratch);
}

class CheckAndCompactCommands : public ::testing::Test {
protected:
    CheckAndCompactCommands() {
        testing_support::makeFolder(data);
        writeFile(source, original);
    }

    TempFolder scratch;
    std::string data = scratch / "dados";
    std::string source = data + "/loja.mdb";
    std::string original = testing_support::corpusFile("jet4/testV2003.mdb");
};

TEST_F(CheckAndCompactCommands, CheckExitsZeroOneTwoOrThreeForSoundDamagedMisusedAndUnreadableFiles) {
    ProgramRun run = runCompactar({"check", source}, scratch);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Nenhum dano encontrado."), std::string::npos) << run.out;

    const std::string damaged = data + "/danificado.mdb";
    const std::string damagedBytes = withADataPageZeroed(original, 4096);
    ASSERT_NE(damagedBytes, original) << "no data page of a user table found";
    writeFile(damaged, damagedBytes);
    run = runCompactar({"check", damaged}, scratch);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("O banco de dados está danificado."), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("[dano] tabela "), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Encontrados: 0 danos"), std::string::npos) << run.out;

    const std::string text = data + "/texto.mdb";
    writeFile(text, std::string(10000, 'x'));
    run = runCompactar({"check", text}, scratch);
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("compactar: " + text + ": "), std::string::npos) << run.err;

    run = runCompactar({"check", data + "/nada.mdb"}, scratch);
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_EQ(run.err, "compactar: o arquivo " + data + "/nada.mdb não existe\n");

    run = runCompactar({"check"}, scratch);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("uso: compactar check ARQUIVO"), std::string::npos) << run.err;

    EXPECT_TRUE(readFile(source) == original);
    EXPECT_TRUE(readFile(damaged) == damagedBytes);
}

TEST_F(CheckAndCompactCommands, AFileThatCannotBeReadIsNamedWithTheCauseInPortuguese) {
    ASSERT_EQ(::chmod(source.c_str(), 0), 0);
    // As root, an ordinary user: root reads any file.
    const ProgramRun run = runProgram(COMPACTAR_BINARY, {"check", source}, scratch, true);
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_EQ(run.err, "compactar: não foi possível ler o arquivo " + source + ": permissão negada\n");
    EXPECT_EQ(run.out, "");
}

TEST_F(CheckAndCompactCommands, CompactWritesACheckedDestinationAndPrintsASummary) {
    const std::string destination = data + "/compacto.mdb";
    ProgramRun run = runCompactar({"compact", source, destination}, scratch);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Banco compactado: " + destination), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Tamanho antes:  "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Tamanho depois: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Páginas recuperadas: "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Tempo: "), std::string::npos) << run.out;
    EXPECT_TRUE(readFile(source) == original);
    ASSERT_TRUE(fileExists(destination));
    EXPECT_LE(readFile(destination).size(), original.size());

    run = runCompactar({"check", destination}, scratch);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    run = runCompactar({"info", destination}, scratch);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
}

TEST_F(CheckAndCompactCommands, CompactLeavesNoDestinationForADamagedSource) {
    const std::string damaged = data + "/danificado.mdb";
    const std::string damagedBytes = withADataPageZeroed(original, 4096);
    ASSERT_NE(damagedBytes, original);
    writeFile(damaged, damagedBytes);
    const std::string destination = data + "/compacto.mdb";
    const ProgramRun run = runCompactar({"compact", damaged, destination}, scratch);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find("compactar: "), std::string::npos) << run.err;
    EXPECT_FALSE(fileExists(destination));
    EXPECT_TRUE(readFile(damaged) == damagedBytes);
    EXPECT_EQ(folderNames(data), (std::vector<std::string>{"danificado.mdb", "loja.mdb"}));
}

TEST_F(CheckAndCompactCommands, CompactRefusesAnExistingDestinationAndBadUsage) {
    const std::string destination = data + "/ocupado.mdb";
    writeFile(destination, "nao mexer");
    ProgramRun run = runCompactar({"compact", source, destination}, scratch);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(readFile(destination), "nao mexer");

    run = runCompactar({"compact", data + "/nada.mdb", data + "/a.mdb"}, scratch);
    EXPECT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_EQ(run.err, "compactar: o arquivo " + data + "/nada.mdb não existe\n");

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"compact"}, std::vector<std::string>{"compact", source},
          std::vector<std::string>{"compact", source, data + "/a.mdb", data + "/b.mdb"},
          std::vector<std::string>{"compact", "", data + "/a.mdb"}}) {
        run = runCompactar(arguments, scratch);
        EXPECT_EQ(run.status, 2) << arguments.size();
        EXPECT_NE(run.err.find("uso: compactar compact [--repair] ORIGEM DESTINO"), std::string::npos) << run.err;
    }
    EXPECT_EQ(folderNames(data), (std::vector<std::string>{"loja.mdb", "ocupado.mdb"}));
    EXPECT_TRUE(readFile(source) == original);
}

}  // namespace
