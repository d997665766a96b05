// Every way compactar opens a database refuses a named pipe at once, naming it,
// instead of waiting for a writer that never comes. A run that waits is killed
// after a bound far beyond what a refusal takes, and fails the test.
#include <sys/stat.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.h"
#include "temp_folder.h"

namespace {

using testing_support::folderNames;
using testing_support::ProgramRun;
using testing_support::runProgramWithin;
using testing_support::TempFolder;

constexpr unsigned kBoundSeconds = 60;

class NonRegularFilesTest : public ::testing::Test {
protected:
    NonRegularFilesTest() {
        testing_support::makeFolder(bin);
        testing_support::writeFile(program, testing_support::readFile(COMPACTAR_BINARY));
        ::chmod(program.c_str(), 0755);
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    }

    TempFolder root;
    std::string bin = root / "bin";
    std::string program = bin + "/compactar";
    std::string fifo = root / "x.mdb";
};

TEST_F(NonRegularFilesTest, EverySubcommandRefusesANamedPipeWithStatusThree) {
    const std::vector<std::vector<std::string>> commands{
        {"check", fifo},
        {"info", fifo},
        {"dump", fifo, "--table", "Clientes"},
        {"compact", fifo, root / "saida.mdb"},
    };
    for (const std::vector<std::string>& arguments : commands) {
        const ProgramRun run = runProgramWithin(kBoundSeconds, program, arguments, root);
        EXPECT_EQ(run.status, 3) << arguments.front() << ": " << run.err;
        EXPECT_EQ(run.out, "") << arguments.front();
        EXPECT_EQ(run.err, "compactar: " + fifo +
                               " não é um arquivo comum (é um pipe nomeado (FIFO)); só arquivos comuns são lidos como "
                               "banco de dados\n")
            << arguments.front();
    }
    EXPECT_FALSE(testing_support::fileExists(root / "saida.mdb"));
}

TEST_F(NonRegularFilesTest, TheProcedureTakesANamedPipeForAMissingFileAndTouchesNothing) {
    const ProgramRun run = runProgramWithin(kBoundSeconds, program, {fifo}, root);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "O Arquivo " + fifo + " Não Existe. Selecione Outro.\nO Arquivo Não pode ser Reparado/Compactado.\n");
    EXPECT_EQ(folderNames(bin), std::vector<std::string>{"compactar"});
}

TEST_F(NonRegularFilesTest, AFolderIsRefusedAsAFolder) {
    const std::string folder = root / "pasta.mdb";
    testing_support::makeFolder(folder);
    const ProgramRun run = runProgramWithin(kBoundSeconds, program, {"check", folder}, root);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find(folder + " não é um arquivo comum (é uma pasta)"), std::string::npos) << run.err;
}

}  // namespace
