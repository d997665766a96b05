// compactar as a user runs it: the built program, copied into a folder of its
// own (its scratch files go beside it), on a real Access file.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "database_engine.h"
#include "program_engine.h"
#include "program_run.h"
#include "second_user.h"
#include "temp_folder.h"

namespace {

using testing_support::fileExists;
using testing_support::folderNames;
using testing_support::ProgramRun;
using testing_support::readFile;
using testing_support::runProgram;
using testing_support::TempFolder;
using testing_support::writeFile;

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

class CompactarTest : public ::testing::Test {
protected:
    CompactarTest() {
        testing_support::makeFolder(bin);
        testing_support::makeFolder(data);
        writeFile(program, readFile(COMPACTAR_BINARY));
        ::chmod(program.c_str(), 0755);
        writeFile(database, original);
    }

    // What the program's engine does with this file, asked directly on a copy:
    // its error, or nothing when it works.
    std::optional<maintenance::EngineError> engineRepairError() {
        const std::string probe = root / "sonda.mdb";
        writeFile(probe, original);
        std::optional<maintenance::EngineError> error;
        try {
            maintenance::programEngineFactory()()->repair(probe);
        } catch (const maintenance::EngineError& e) {
            error = maintenance::EngineError(e.number(), std::string(e.what()).replace(
                                                             std::string(e.what()).find(probe), probe.size(),
                                                             "SCRATCH2"));
        }
        ::unlink(probe.c_str());
        return error;
    }

    TempFolder root;
    std::string bin = root / "bin";
    std::string data = root / "dados";
    std::string program = bin + "/compactar";
    std::string database = data + "/loja.mdb";
    std::string original = testing_support::corpusFile("jet4/testV2003.mdb");
};

TEST_F(CompactarTest, RunsTheWholeProcedureOnARealFile) {
    const auto engineError = engineRepairError();
    const ProgramRun run = runProgram(program, {database}, root);
    const std::vector<std::string> statusLines{
        "Fazendo Copia de Seguranca para " + bin + "/compac01.mdb",
        "Renoemando Arquivo para " + bin + "/compac02.mdb",
        "Reparando Banco de Dados" + bin + "/compac02.mdb",
    };
    if (engineError) {
        std::string description = engineError->what();
        description.replace(description.find("SCRATCH2"), 8, database);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(lines(run.out), (std::vector<std::string>{
                                      "Erro ao Reparar Banco de dados : " + std::to_string(engineError->number()) +
                                          " - " + description + " . Voltando o Backup",
                                      "O Arquivo Não pode ser Reparado/Compactado.",
                                  }));
        std::vector<std::string> expectedStatus = statusLines;
        expectedStatus.push_back("Voltando Backup");
        EXPECT_EQ(lines(run.err), expectedStatus);
        EXPECT_TRUE(readFile(database) == original);
        EXPECT_EQ(folderNames(bin), (std::vector<std::string>{"compac01.mdb", "compac02.mdb", "compactar"}));
    } else {
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, "Processo Concluido.\n");
        std::vector<std::string> expectedStatus = statusLines;
        expectedStatus.push_back("Compactando Banco de Dados" + bin + "/compac02.mdb");
        expectedStatus.push_back("Restaurando Arquivo.");
        EXPECT_EQ(lines(run.err), expectedStatus);
        EXPECT_TRUE(fileExists(database));
    }
    EXPECT_EQ(folderNames(data), std::vector<std::string>{"loja.mdb"});
}

TEST_F(CompactarTest, AMissingFileIsReportedWithExitStatusOne) {
    const ProgramRun run = runProgram(program, {data + "/nada.mdb"}, root);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "O Arquivo " + data + "/nada.mdb Não Existe. Selecione Outro.\n"
                       "O Arquivo Não pode ser Reparado/Compactado.\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(folderNames(bin), std::vector<std::string>{"compactar"});
}

TEST_F(CompactarTest, UsageErrorsExitWithTwoAndHelpWithZero) {
    ProgramRun run = runProgram(program, {}, root);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Uso: compactar CAMINHO"), std::string::npos);
    run = runProgram(program, {database, database}, root);
    EXPECT_EQ(run.status, 2);
    run = runProgram(program, {"--help"}, root);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.rfind("Uso: compactar CAMINHO\n", 0), 0u);
    EXPECT_TRUE(readFile(database) == original);
    EXPECT_EQ(folderNames(bin), std::vector<std::string>{"compactar"});
}

TEST_F(CompactarTest, AnInstalledProgramKeepsItsScratchFilesInTheUsersDataFolder) {
    const std::string home = root / "casa";
    testing_support::makeFolder(home);
    ASSERT_EQ(::chmod(bin.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(data.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(database.c_str(), 0666), 0);
    const ProgramRun run = runProgram(program, {database}, root, true, home);
    const std::string scratch = home + "/.local/share/compactador";
    ASSERT_FALSE(lines(run.err).empty()) << run.out;
    EXPECT_EQ(lines(run.err).front(), "Fazendo Copia de Seguranca para " + scratch + "/compac01.mdb");
    EXPECT_EQ(folderNames(bin), std::vector<std::string>{"compactar"});
    EXPECT_TRUE(fileExists(scratch + "/compac01.mdb"));
    EXPECT_TRUE(fileExists(database));
}

TEST_F(CompactarTest, RootLeavesAFolderOfAnotherUserAloneAndUsesItsOwnDataFolder) {
    const std::optional<testing_support::Account> user = testing_support::secondUser();
    if (!user) GTEST_SKIP() << "needs root and useradd for a second user";
    ASSERT_EQ(::chown(bin.c_str(), user->uid, user->gid), 0);
    const std::string home = root / "casa-root";
    testing_support::makeFolder(home);
    const ProgramRun run = runProgram(program, {database}, root, false, home);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(folderNames(bin), std::vector<std::string>{"compactar"});
    EXPECT_TRUE(fileExists(home + "/.local/share/compactador/compac01.mdb"));
}

}  // namespace
