// What the procedure guards beyond its fixed sequence: a database that is one
// of the scratch files, a restore that fails, a backup that may be the only
// copy of a database, and a program folder that cannot be found.
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "child_process.h"
#include "procedure_setup.h"

namespace {

using testing_support::EngineScript;
using testing_support::fileExists;
using testing_support::ProcedureSetup;
using testing_support::RecordingSink;
using testing_support::writeFile;
using Call = testing_support::FaultyFileSystem::Call;
using Texts = std::vector<std::string>;

const char* kFailed = "O Arquivo Não pode ser Reparado/Compactado.";

class ScratchSourceTest : public ::testing::Test {
protected:
    // A database the user keeps in the program folder under a scratch name.
    void putDatabaseAtScratch(int number) { writeFile(setup.scratch(number), setup.original()); }
    std::string refusal(const std::string& source, int number) const {
        return "O Arquivo " + source + " é o arquivo temporário " + setup.scratch(number) +
               " deste programa e não pode ser compactado. Selecione Outro.";
    }
    void expectRefusedUntouched(const RecordingSink& sink, const std::string& source, int number) {
        EXPECT_EQ(sink.messages(), (Texts{refusal(source, number), kFailed}));
        EXPECT_EQ(setup.contentsOf(setup.scratch(number)), setup.original());
        EXPECT_EQ(setup.engine().creations, 0);
    }
    ProcedureSetup setup;
};

TEST_F(ScratchSourceTest, TheScratchPathItselfIsRefusedForEachScratchFile) {
    for (int k = 1; k <= 3; ++k) {
        SCOPED_TRACE(k);
        putDatabaseAtScratch(k);
        RecordingSink sink(setup.scratch(k));
        setup.run(sink);
        expectRefusedUntouched(sink, setup.scratch(k), k);
    }
}

TEST_F(ScratchSourceTest, OtherSpellingsOfAScratchFileAreRefused) {
    putDatabaseAtScratch(2);
    const std::string dotted = setup.programFolder() + "/./../programa//compac02.mdb";
    RecordingSink viaDots(dotted);
    setup.run(viaDots);
    expectRefusedUntouched(viaDots, dotted, 2);

    const std::string symlink = setup.dataFolder() + "/atalho.mdb";
    ASSERT_EQ(::symlink(setup.scratch(2).c_str(), symlink.c_str()), 0);
    RecordingSink viaSymlink(symlink);
    setup.run(viaSymlink);
    expectRefusedUntouched(viaSymlink, symlink, 2);

    const std::string hardLink = setup.dataFolder() + "/duro.mdb";
    ASSERT_EQ(::link(setup.scratch(2).c_str(), hardLink.c_str()), 0);
    RecordingSink viaHardLink(hardLink);
    setup.run(viaHardLink);
    expectRefusedUntouched(viaHardLink, hardLink, 2);

    const std::string wildcard = setup.programFolder() + "/compac0?.mdb";
    RecordingSink viaWildcard(wildcard);
    setup.run(viaWildcard);
    expectRefusedUntouched(viaWildcard, wildcard, 2);

    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(setup.dataFolder().c_str()), 0);
    RecordingSink relative("../programa/compac02.mdb");
    setup.run(relative);
    ASSERT_EQ(::chdir(previous), 0);
    expectRefusedUntouched(relative, "../programa/compac02.mdb", 2);
}

TEST_F(ScratchSourceTest, TheNoteBesideTheBackupIsRefusedToo) {
    writeFile(setup.note(), "não é um banco");
    RecordingSink sink(setup.note());
    setup.run(sink);
    EXPECT_EQ(sink.messages(), (Texts{"O Arquivo " + setup.note() + " é o arquivo temporário " + setup.note() +
                                          " deste programa e não pode ser compactado. Selecione Outro.",
                                      kFailed}));
    EXPECT_EQ(setup.contentsOf(setup.note()), "não é um banco");
}

TEST_F(ScratchSourceTest, WhenItCannotBeToldTheRunStopsToo) {
    putDatabaseAtScratch(1);
    setup.fileSystem().setRule([&](long, Call call, const std::string& path) {
        // The source looks fine; only the scratch file's identity cannot be read.
        return call == Call::Status && path == setup.scratch(1) ? EIO : 0;
    });
    const auto sink = setup.run();
    EXPECT_EQ(sink.messages(), (Texts{"Não foi possível verificar se o Arquivo " + setup.database() +
                                          " é um dos arquivos temporários deste programa. Selecione Outro.",
                                      kFailed}));
    EXPECT_EQ(setup.contentsOf(setup.scratch(1)), setup.original());
}

class FailedRestoreTest : public ::testing::Test {
protected:
    // The repair fails and so does the copy that would put the backup back.
    RecordingSink runWithFailingRestore() {
        setup.engine().repair = EngineScript::Repair::ThrowEngineError;
        setup.fileSystem().setRule([&](long, Call call, const std::string& path) {
            return call == Call::MoveReplacing && path.find("/.loja.mdb.parcial-") != std::string::npos ? ENOSPC : 0;
        });
        auto sink = setup.run();
        setup.fileSystem().clearRule();
        setup.engine().repair = EngineScript::Repair::AppendMark;
        return sink;
    }
    std::string putBack() const {
        return "Um processo anterior foi interrompido com o banco de dados fora do seu lugar: o Arquivo de "
               "Segurança " +
               setup.scratch(1) + " foi copiado de volta para " + setup.database() + ".";
    }
    std::string blocked() const {
        return "O Arquivo de Segurança " + setup.scratch(1) + " guarda o banco de dados " + setup.database() +
               ", que não está no seu lugar. Copie-o de volta ou para um lugar seguro antes de iniciar outro "
               "processo.";
    }
    ProcedureSetup setup;
};

TEST_F(FailedRestoreTest, IsReportedWithTheBackupThatHoldsTheDatabase) {
    const auto sink = runWithFailingRestore();
    EXPECT_EQ(sink.messages(), (Texts{"Erro ao Reparar Banco de dados : -1206 - Arquivo danificado na página 7 . "
                                      "Voltando o Backup",
                                      "A Cópia de Segurança Não Pode Ser Restaurada em " + setup.database() +
                                          ". O banco de dados está guardado em " + setup.scratch(1) + ".",
                                      kFailed}));
    EXPECT_FALSE(fileExists(setup.database()));
    EXPECT_EQ(setup.contentsOf(setup.scratch(1)), setup.original());
    EXPECT_TRUE(fileExists(setup.note()));
    EXPECT_EQ(setup.contentsOf(setup.note()).substr(0, setup.database().size() + 1), setup.database() + "\n");
}

TEST_F(FailedRestoreTest, ALaterRunPutsTheBackupBackThenGoesOnWithItsOwnDatabase) {
    (void)runWithFailingRestore();
    ASSERT_FALSE(fileExists(setup.database()));
    const std::string other = setup.dataFolder() + "/outra.mdb";
    writeFile(other, "outro banco");
    RecordingSink sink(other);
    setup.run(sink);
    EXPECT_EQ(sink.messages(), (Texts{putBack(), "Processo Concluido."}));
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
    EXPECT_FALSE(fileExists(setup.note()));
    EXPECT_EQ(setup.contentsOf(setup.scratch(1)), "outro banco");
}

TEST_F(FailedRestoreTest, ADatabasePutBackGetsTheModeTheNoteRecorded) {
    ASSERT_EQ(::chmod(setup.database().c_str(), 0640), 0);
    (void)runWithFailingRestore();
    RecordingSink sink(setup.dataFolder() + "/nada.mdb");
    setup.run(sink);
    ASSERT_EQ(sink.messages().front(), putBack());
    struct stat st {};
    ASSERT_EQ(::stat(setup.database().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(FailedRestoreTest, WhileTheBackupCannotGoBackLaterRunsKeepItUntilTheUserDealsWithIt) {
    (void)runWithFailingRestore();
    const std::string other = setup.dataFolder() + "/outra.mdb";
    writeFile(other, "outro banco");
    for (int attempt = 0; attempt < 2; ++attempt) {
        setup.fileSystem().setRule([&](long, Call call, const std::string& path) {
            return call == Call::MoveReplacing && path.find("/.loja.mdb.parcial-") != std::string::npos ? ENOSPC : 0;
        });
        RecordingSink sink(other);
        setup.run(sink);
        setup.fileSystem().clearRule();
        EXPECT_EQ(sink.events(), (Texts{"busy", "read", "message:" + blocked(), "status:", std::string("message:") + kFailed,
                                        "normal"}));
        EXPECT_EQ(setup.contentsOf(setup.scratch(1)), setup.original());
        EXPECT_EQ(setup.contentsOf(other), "outro banco");
        EXPECT_FALSE(fileExists(setup.database()));
    }
    // The user copies the backup back to where the database belongs.
    writeFile(setup.database(), setup.contentsOf(setup.scratch(1)));
    RecordingSink sink(other);
    setup.run(sink);
    EXPECT_TRUE(sink.ended());
    EXPECT_FALSE(fileExists(setup.note()));
    EXPECT_EQ(setup.contentsOf(setup.scratch(1)), "outro banco");
}

TEST_F(FailedRestoreTest, WhatTheUserPutAtThePathMeanwhileStaysThere) {
    (void)runWithFailingRestore();
    testing_support::makeFolder(setup.database());
    const std::string other = setup.dataFolder() + "/outra.mdb";
    writeFile(other, "outro banco");
    RecordingSink sink(other);
    setup.run(sink);
    EXPECT_EQ(sink.messages().front(), blocked());
    EXPECT_EQ(setup.contentsOf(setup.scratch(1)), setup.original());
}

TEST_F(FailedRestoreTest, MovingTheBackupAwaySettlesItToo) {
    (void)runWithFailingRestore();
    ASSERT_EQ(::rename(setup.scratch(1).c_str(), (setup.dataFolder() + "/salvo.mdb").c_str()), 0);
    const std::string other = setup.dataFolder() + "/outra.mdb";
    writeFile(other, "outro banco");
    RecordingSink sink(other);
    setup.run(sink);
    EXPECT_TRUE(sink.ended());
    EXPECT_EQ(setup.contentsOf(setup.dataFolder() + "/salvo.mdb"), setup.original());
}

TEST_F(FailedRestoreTest, ACrashWhileTheDatabaseIsAwayIsMendedByTheNextRun) {
    // The program dies in the middle of the repair, in a child process: the
    // database sits in scratch 2, its backup in scratch 1, nothing at its path.
    setup.engine().repair = EngineScript::Repair::EndProcess;
    ASSERT_EQ(testing_support::runInChild(
                  [&] {
                      (void)setup.run();
                      return 1;  // not reached when the engine ends the process
                  },
                  false),
              0);
    setup.engine().repair = EngineScript::Repair::AppendMark;
    ASSERT_FALSE(fileExists(setup.database()));
    ASSERT_EQ(setup.contentsOf(setup.scratch(2)), setup.original());
    const std::string other = setup.dataFolder() + "/outra.mdb";
    writeFile(other, "outro banco");
    RecordingSink sink(other);
    setup.run(sink);
    EXPECT_EQ(sink.messages(), (Texts{putBack(), "Processo Concluido."}));
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
    EXPECT_EQ(setup.contentsOf(other), "outro banco" + std::string(testing_support::kRepairMark) +
                                           testing_support::kCompactMark);
}

TEST_F(FailedRestoreTest, WithoutItsNoteTheDatabaseIsNotMoved) {
    setup.fileSystem().setRule([&](long, Call call, const std::string& path) {
        return call == Call::CreateNew && path.find("compac01-restauracao-pendente") != std::string::npos ? EROFS : 0;
    });
    const auto sink = setup.run();
    EXPECT_EQ(sink.messages(), (Texts{"O Arquivo de Controle " + setup.note() +
                                          " Não Pode Ser Criado. O Arquivo Principal Não Foi Alterado.",
                                      kFailed}));
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
    EXPECT_EQ(setup.programFiles(), Texts{"compac01.mdb"});
}

TEST(ProgramFolderGuardTest, AFolderThatCannotBeFoundStopsBeforeTheScratchFiles) {
    ProcedureSetup setup;
    testing_support::EngineScript script;
    maintenance::Procedure procedure(
        testing_support::scriptedEngineFactory(script),
        []() -> std::string { throw std::runtime_error("no folder"); }, maintenance::systemFileSystem());
    RecordingSink sink(setup.database());
    procedure.run(sink);
    EXPECT_EQ(sink.messages(), (Texts{"A Pasta do Programa Não Pode Ser Encontrada. Os Arquivos Temporarios Não "
                                      "Podem Ser Criados.",
                                      kFailed}));
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
}

}  // namespace
