// A database another program has open shows here as a POSIX record lock held
// by another process on the database or on its Jet lock file. Each case uses a
// real child process that holds the lock.
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "file_error.h"
#include "jet_lock_files.h"
#include "procedure_setup.h"

namespace {

using testing_support::LockHoldingChild;
using testing_support::ProcedureSetup;
using testing_support::RecordingSink;
using testing_support::writeFile;
using Texts = std::vector<std::string>;

const char* kFailed = "O Arquivo Não pode ser Reparado/Compactado.";
const char* kBackupNotCreated = "O Arquivo de Segurança Não Pode Ser Criado. O Arquivo Principal pode estar em uso.";

TEST(JetLockFilesTest, NamesTheLockFileBesideTheDatabase) {
    EXPECT_EQ(maintenance::jetLockFiles("/d/loja.mdb"), (Texts{"/d/loja.ldb", "/d/loja.LDB"}));
    EXPECT_EQ(maintenance::jetLockFiles("/d/LOJA.MDB"), (Texts{"/d/LOJA.ldb", "/d/LOJA.LDB"}));
    EXPECT_EQ(maintenance::jetLockFiles("/d/vendas.accdb"), (Texts{"/d/vendas.laccdb", "/d/vendas.LACCDB"}));
    EXPECT_EQ(maintenance::jetLockFiles("/d/v.2024.AccDB"), (Texts{"/d/v.2024.laccdb", "/d/v.2024.LACCDB"}));
    EXPECT_EQ(maintenance::jetLockFiles("semext"), (Texts{"semext.ldb", "semext.LDB"}));
    EXPECT_EQ(maintenance::jetLockFiles("/d/.oculto"), (Texts{"/d/.oculto.ldb", "/d/.oculto.LDB"}));
    EXPECT_TRUE(maintenance::jetLockFiles("/d/").empty());
}

class RecordLockTest : public ::testing::Test {
protected:
    void expectStoppedAtBackup(const RecordingSink& sink) {
        EXPECT_EQ(sink.messages(), (Texts{kBackupNotCreated, kFailed}));
        EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
        EXPECT_TRUE(setup.programFiles().empty());
        EXPECT_EQ(setup.engine().creations, 0);
    }
    std::string lockFile() const { return setup.dataFolder() + "/loja.ldb"; }
    ProcedureSetup setup;
};

TEST_F(RecordLockTest, AClassicLockOnTheDatabaseStopsTheRunAtTheBackup) {
    LockHoldingChild holder(setup.database(), LockHoldingChild::Kind::Classic);
    ASSERT_TRUE(holder.holding());
    expectStoppedAtBackup(setup.run());
}

TEST_F(RecordLockTest, AByteRangeLockFarPastTheEndCountsToo) {
    // Jet locks single bytes at large offsets rather than the whole file.
    LockHoldingChild holder(setup.database(), LockHoldingChild::Kind::OpenFileDescription, 0x10000000);
    ASSERT_TRUE(holder.holding());
    expectStoppedAtBackup(setup.run());
}

TEST_F(RecordLockTest, ALockOnTheJetLockFileStopsTheRunAtTheBackup) {
    writeFile(lockFile(), std::string(64, '\0'));
    LockHoldingChild holder(lockFile(), LockHoldingChild::Kind::OpenFileDescription);
    ASSERT_TRUE(holder.holding());
    expectStoppedAtBackup(setup.run());
}

TEST_F(RecordLockTest, AnAccdbIsGuardedByItsLaccdbFile) {
    ProcedureSetup accdb("ace12/testV2007.accdb", "vendas.accdb");
    const std::string lock = accdb.dataFolder() + "/vendas.laccdb";
    writeFile(lock, std::string(64, '\0'));
    LockHoldingChild holder(lock, LockHoldingChild::Kind::Classic);
    ASSERT_TRUE(holder.holding());
    const auto sink = accdb.run();
    EXPECT_EQ(sink.messages(), (Texts{kBackupNotCreated, kFailed}));
    EXPECT_EQ(accdb.contentsOf(accdb.database()), accdb.original());
}

TEST_F(RecordLockTest, AStaleLockFileThatNobodyHoldsDoesNotBlock) {
    writeFile(lockFile(), std::string(64, '\0'));
    {
        // A lock that was held and then released, as when the holder crashed.
        LockHoldingChild holder(lockFile(), LockHoldingChild::Kind::Classic);
        ASSERT_TRUE(holder.holding());
    }
    const auto sink = setup.run();
    EXPECT_TRUE(sink.ended());
    EXPECT_EQ(sink.messages(), Texts{"Processo Concluido."});
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original() + "|reparado|compactado");
}

TEST_F(RecordLockTest, ALockedScratchFileCannotBeRemoved) {
    writeFile(setup.scratch(2), "antigo");
    LockHoldingChild holder(setup.scratch(2), LockHoldingChild::Kind::Classic);
    ASSERT_TRUE(holder.holding());
    const auto sink = setup.run();
    EXPECT_EQ(sink.messages(), (Texts{"O Arquivo Temporario 2 Não pode ser apagado para inicio do processo. Pode "
                                      "estar em uso por outro processo.",
                                      kFailed}));
    EXPECT_EQ(setup.programFiles(), Texts{"compac02.mdb"});
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
}

TEST_F(RecordLockTest, TheOperationsThemselvesRefuseWithEbusy) {
    maintenance::WorkingFiles files(maintenance::systemFileSystem());
    LockHoldingChild holder(setup.database(), LockHoldingChild::Kind::Classic);
    ASSERT_TRUE(holder.holding());
    for (const auto& operation : std::vector<std::function<void()>>{
             [&] { files.copy(setup.database(), setup.scratch(1)); },
             [&] { files.rename(setup.database(), setup.scratch(2)); },
             [&] { files.remove(setup.database()); },
         }) {
        try {
            operation();
            ADD_FAILURE() << "a locked file was handled";
        } catch (const maintenance::FileError& e) {
            EXPECT_EQ(e.number(), EBUSY);
            EXPECT_NE(std::string(e.what()).find("bloqueado por outro programa"), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
    EXPECT_TRUE(setup.programFiles().empty());
}

}  // namespace
