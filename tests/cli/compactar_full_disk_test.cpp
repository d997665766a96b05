// compactar with its program folder on a small file system of its own (a tmpfs,
// mounted when the tests run as root): too small for the backup and the
// compacted file, the run stops before touching the database.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.h"
#include "temp_folder.h"

namespace {

using testing_support::folderNames;
using testing_support::ProgramRun;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;

class CompactarFullDiskTest : public ::testing::Test {
protected:
    void mountProgramFolder(std::size_t kilobytes) {
        testing_support::makeFolder(bin);
        const std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0755";
        if (::mount("tmpfs", bin.c_str(), "tmpfs", 0, options.c_str()) != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs (needs root)";
        }
        mounted = true;
        writeFile(program, readFile(COMPACTAR_BINARY));
        ::chmod(program.c_str(), 0755);
        testing_support::makeFolder(data);
        writeFile(database, original);
    }
    ~CompactarFullDiskTest() override {
        if (mounted) ::umount2(bin.c_str(), MNT_DETACH);
    }

    bool mounted = false;
    TempFolder root;
    std::string bin = root / "bin";
    std::string data = root / "dados";
    std::string program = bin + "/compactar";
    std::string database = data + "/loja.mdb";
    std::string original = testing_support::corpusFile("jet4/testV2003.mdb");
    std::size_t programKilobytes = readFile(COMPACTAR_BINARY).size() / 1024 + 64;
};

TEST_F(CompactarFullDiskTest, AProgramFolderWithoutRoomStopsTheRunBeforeTheBackup) {
    mountProgramFolder(programKilobytes + original.size() / 1024);  // room for one copy, not two
    if (!mounted) return;
    const ProgramRun run = testing_support::runProgram(program, {database}, root);
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_EQ(run.out.rfind("Não Há Espaço Livre Suficiente em " + bin + ": o processo precisa de ", 0), 0u)
        << run.out;
    EXPECT_NE(run.out.find("O Arquivo Não pode ser Reparado/Compactado."), std::string::npos);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(readFile(database) == original);
    EXPECT_EQ(folderNames(bin), std::vector<std::string>{"compactar"});
}

TEST_F(CompactarFullDiskTest, AProgramFolderWithRoomRunsToTheEnd) {
    mountProgramFolder(programKilobytes + 3 * original.size() / 1024 + 64);
    if (!mounted) return;
    const ProgramRun run = testing_support::runProgram(program, {database}, root);
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.out, "Processo Concluido.\n");
}

}  // namespace
