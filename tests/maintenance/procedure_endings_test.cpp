// Every ending of the repair-and-compact sequence: the messages, the status
// texts and pointer changes in order, and the files left at the database path
// and in the program folder.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "interruption_guard.h"
#include "procedure_setup.h"

namespace {

using testing_support::EngineScript;
using testing_support::ProcedureSetup;
using testing_support::writeFile;
using Call = testing_support::FaultyFileSystem::Call;
using Events = std::vector<std::string>;

Events operator+(Events a, const Events& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Events kStart{"busy", "read"};
const Events kFail{"status:", "message:O Arquivo Não pode ser Reparado/Compactado.", "normal"};

Events status(const std::string& text) { return {"status:" + text, "repaint"}; }
Events message(const std::string& text) { return {"message:" + text}; }

class ProcedureEndingsTest : public ::testing::Test {
protected:
    std::string f() const { return setup.programFolder(); }
    Events backupPhase() const { return status("Fazendo Copia de Seguranca para " + f() + "/compac01.mdb"); }
    Events setAsidePhase() const { return status("Renoemando Arquivo para " + f() + "/compac02.mdb"); }
    Events repairPhase() const { return status("Reparando Banco de Dados" + f() + "/compac02.mdb"); }
    Events compactPhase() const { return status("Compactando Banco de Dados" + f() + "/compac02.mdb"); }
    Events untilReinstatement() const {
        return kStart + backupPhase() + setAsidePhase() + repairPhase() + compactPhase() +
               status("Restaurando Arquivo.");
    }
    void leaveOldScratchFiles() {
        for (int k = 1; k <= 3; ++k) writeFile(setup.scratch(k), "antigo " + std::to_string(k));
    }
    std::string database() const { return setup.contentsOf(setup.database()); }

    ProcedureSetup setup;
};

TEST_F(ProcedureEndingsTest, Step4MissingDatabaseStopsBeforeAnythingIsTouched) {
    leaveOldScratchFiles();
    testing_support::RecordingSink sink(setup.dataFolder() + "/nada.mdb");
    setup.run(sink);
    EXPECT_EQ(sink.events(), kStart + message("O Arquivo " + setup.dataFolder() +
                                              "/nada.mdb Não Existe. Selecione Outro.") + kFail);
    EXPECT_EQ(setup.programFiles(), (Events{"compac01.mdb", "compac02.mdb", "compac03.mdb"}));
    EXPECT_EQ(setup.contentsOf(setup.scratch(1)), "antigo 1");
    EXPECT_EQ(setup.engine().creations, 0);
}

TEST_F(ProcedureEndingsTest, Step4PlaceholderFromFileSelectionIsReportedAsMissing) {
    testing_support::RecordingSink sink("<<Nenhum Arquivo Selecionado>>");
    setup.run(sink);
    EXPECT_EQ(sink.events(),
              kStart + message("O Arquivo <<Nenhum Arquivo Selecionado>> Não Existe. Selecione Outro.") + kFail);
}

TEST_F(ProcedureEndingsTest, Step4HiddenDatabaseOrFolderIsMissing) {
    writeFile(setup.dataFolder() + "/.oculto.mdb", "x");
    testing_support::RecordingSink hidden(setup.dataFolder() + "/.oculto.mdb");
    setup.run(hidden);
    EXPECT_EQ(hidden.messages().front(), "O Arquivo " + setup.dataFolder() + "/.oculto.mdb Não Existe. Selecione Outro.");
    testing_support::RecordingSink folder(setup.dataFolder());
    setup.run(folder);
    EXPECT_EQ(folder.messages().front(), "O Arquivo " + setup.dataFolder() + " Não Existe. Selecione Outro.");
}

TEST_F(ProcedureEndingsTest, Step6EachScratchFileThatCannotBeRemovedStopsTheRun) {
    for (int k = 1; k <= 3; ++k) {
        SCOPED_TRACE("scratch " + std::to_string(k));
        leaveOldScratchFiles();
        setup.fileSystem().failWhen(Call::RemoveFile, setup.scratch(k), EACCES);
        const auto sink = setup.run();
        setup.fileSystem().clearRule();
        EXPECT_EQ(sink.events(), kStart +
                                     message("O Arquivo Temporario " + std::to_string(k) +
                                             " Não pode ser apagado para inicio do processo. Pode estar em uso por "
                                             "outro processo.") +
                                     kFail);
        Events left;
        for (int later = k; later <= 3; ++later) left.push_back("compac0" + std::to_string(later) + ".mdb");
        EXPECT_EQ(setup.programFiles(), left);
        EXPECT_EQ(database(), setup.original());
    }
}

TEST_F(ProcedureEndingsTest, Step9BackupThatCannotBeMadeStopsTheRun) {
    leaveOldScratchFiles();
    setup.fileSystem().failWhen(Call::OpenForReading, setup.database(), EACCES);
    const auto sink = setup.run();
    EXPECT_EQ(sink.events(), kStart + backupPhase() +
                                 message("O Arquivo de Segurança Não Pode Ser Criado. O Arquivo Principal pode estar "
                                         "em uso.") +
                                 kFail);
    EXPECT_TRUE(setup.programFiles().empty());
    EXPECT_EQ(database(), setup.original());
}

TEST_F(ProcedureEndingsTest, Step12DatabaseThatCannotBeMovedStaysWhereItWas) {
    setup.fileSystem().failWhen(Call::MoveNoReplace, setup.database(), EACCES);
    const auto sink = setup.run();
    EXPECT_EQ(sink.events(), kStart + backupPhase() + setAsidePhase() +
                                 message("Erro No Processo. O arquivo Não Pode Ser Renomeado.(1) O Arquivo Principal "
                                         "pode estar sendo udado em algum processo.") +
                                 kFail);
    EXPECT_EQ(setup.programFiles(), Events{"compac01.mdb"});
    EXPECT_EQ(setup.contentsOf(setup.scratch(1)), setup.original());
    EXPECT_EQ(database(), setup.original());
    EXPECT_EQ(setup.dataFiles(), Events{"loja.mdb"});
}

TEST_F(ProcedureEndingsTest, Step16FailedRepairShowsTheEngineErrorAndRestoresTheBackup) {
    setup.engine().repair = EngineScript::Repair::ThrowEngineError;
    const auto sink = setup.run();
    EXPECT_EQ(sink.events(), kStart + backupPhase() + setAsidePhase() + repairPhase() +
                                 message("Erro ao Reparar Banco de dados : -1206 - Arquivo danificado na página 7 . "
                                         "Voltando o Backup") +
                                 status("Voltando Backup") + kFail);
    EXPECT_EQ(setup.programFiles(), (Events{"compac01.mdb", "compac02.mdb"}));
    EXPECT_EQ(database(), setup.original());
    EXPECT_EQ(setup.contentsOf(setup.scratch(2)), setup.original());
    EXPECT_EQ(setup.engine().calls, Events{"repair " + setup.scratch(2) + " #1"});
}

TEST_F(ProcedureEndingsTest, Step16EngineErrorsNameTheUsersDatabaseNotTheScratchFile) {
    setup.engine().repair = EngineScript::Repair::ThrowEngineError;
    setup.engine().errorNumber = 3343;
    setup.engine().errorDescription = "Formato de banco de dados não reconhecido '" + setup.scratch(2) + "'. Ou '" +
                                      setup.scratch(2) + "'";
    const auto sink = setup.run();
    EXPECT_EQ(sink.messages().front(), "Erro ao Reparar Banco de dados : 3343 - Formato de banco de dados não "
                                       "reconhecido '" +
                                           setup.database() + "'. Ou '" + setup.database() +
                                           "' . Voltando o Backup");
    EXPECT_EQ(database(), setup.original());
}

TEST_F(ProcedureEndingsTest, Step16ErrorNumbersKeepTheirSignAndOtherFailuresGetTheirOwn) {
    setup.engine().repair = EngineScript::Repair::ThrowEngineError;
    setup.engine().errorNumber = 3049;
    setup.engine().errorDescription = "Não é possível abrir o banco de dados";
    auto sink = setup.run();
    EXPECT_EQ(sink.messages().front(),
              "Erro ao Reparar Banco de dados : 3049 - Não é possível abrir o banco de dados . Voltando o Backup");
    setup.engine().repair = EngineScript::Repair::ThrowOther;
    sink = setup.run();
    EXPECT_EQ(sink.messages().front(),
              "Erro ao Reparar Banco de dados : -1 - Erro inesperado: engine broke . Voltando o Backup");
    setup.engine().repair = EngineScript::Repair::ThrowNonStandard;
    sink = setup.run();
    EXPECT_EQ(sink.messages().front(), "Erro ao Reparar Banco de dados : -1 - Erro inesperado . Voltando o Backup");
    EXPECT_EQ(database(), setup.original());
}

TEST_F(ProcedureEndingsTest, Step19CompactionThatWritesNothingRestoresTheBackup) {
    setup.engine().compact = EngineScript::Compact::WriteNothing;
    const auto sink = setup.run();
    EXPECT_EQ(sink.events(), kStart + backupPhase() + setAsidePhase() + repairPhase() + compactPhase() +
                                 message("Erro No Processo. O arquivo Não Foi Compactado. Voltando o Backup") +
                                 status("Voltando Backup") + kFail);
    EXPECT_EQ(setup.programFiles(), (Events{"compac01.mdb", "compac02.mdb"}));
    EXPECT_EQ(database(), setup.original());
    EXPECT_EQ(setup.contentsOf(setup.scratch(2)), setup.original() + testing_support::kRepairMark);
}

TEST_F(ProcedureEndingsTest, Step19AThrowingCompactionIsJudgedOnlyByItsOutput) {
    setup.engine().compact = EngineScript::Compact::ThrowEngineError;
    auto sink = setup.run();
    EXPECT_EQ(sink.messages().front(), "Erro No Processo. O arquivo Não Foi Compactado. Voltando o Backup");
    EXPECT_EQ(database(), setup.original());
    setup.engine().compact = EngineScript::Compact::WriteThenThrow;
    sink = setup.run();
    EXPECT_EQ(sink.messages(), Events{"Processo Concluido."});
}

TEST_F(ProcedureEndingsTest, Step22CompactedFileThatCannotBeMovedBackRestoresTheBackup) {
    setup.fileSystem().failWhen(Call::MoveNoReplace, setup.scratch(3), EACCES);
    const auto sink = setup.run();
    EXPECT_EQ(sink.events(), untilReinstatement() +
                                 message("Erro No Processo. O arquivo " + f() +
                                         "/compac03.mdb Não Pode Ser Renoemado. . Voltando o Backup.") +
                                 status("Voltando Backup") + kFail);
    EXPECT_EQ(setup.programFiles(), (Events{"compac01.mdb", "compac02.mdb", "compac03.mdb"}));
    EXPECT_EQ(database(), setup.original());
}

TEST_F(ProcedureEndingsTest, ARestoreThatMeetsAFullDiskRemovesTheCompactedFileAndTriesAgain) {
    int restoreAttempts = 0;
    setup.fileSystem().setRule([&](long, Call call, const std::string& path) {
        if (call == Call::MoveNoReplace && path == setup.scratch(3)) return EACCES;
        // The first restore finds no room while the compacted file takes it.
        if (call == Call::CreateNew && path.find("/.loja.mdb.parcial-") != std::string::npos) {
            return ++restoreAttempts == 1 ? ENOSPC : 0;
        }
        return 0;
    });
    const auto sink = setup.run();
    EXPECT_EQ(sink.events(), untilReinstatement() +
                                 message("Erro No Processo. O arquivo " + f() +
                                         "/compac03.mdb Não Pode Ser Renoemado. . Voltando o Backup.") +
                                 status("Voltando Backup") + kFail);
    EXPECT_EQ(restoreAttempts, 2);
    EXPECT_EQ(setup.programFiles(), (Events{"compac01.mdb", "compac02.mdb"}));
    EXPECT_EQ(database(), setup.original());
}

TEST_F(ProcedureEndingsTest, Step23SuccessReplacesTheDatabaseAndEndsTheProgram) {
    leaveOldScratchFiles();
    const auto sink = setup.run();
    EXPECT_EQ(sink.events(), untilReinstatement() + message("Processo Concluido.") + (Events{"normal", "end"}));
    EXPECT_EQ(database(), setup.original() + testing_support::kRepairMark + testing_support::kCompactMark);
    EXPECT_EQ(setup.programFiles(), (Events{"compac01.mdb", "compac02.mdb"}));
    EXPECT_EQ(setup.contentsOf(setup.scratch(1)), setup.original());
    EXPECT_EQ(setup.contentsOf(setup.scratch(2)), setup.original() + testing_support::kRepairMark);
    EXPECT_EQ(setup.dataFiles(), Events{"loja.mdb"});
    EXPECT_EQ(setup.engine().calls, (Events{"repair " + setup.scratch(2) + " #1",
                                            "compact " + setup.scratch(2) + " -> " + setup.scratch(3) + " #1"}));
}

TEST_F(ProcedureEndingsTest, TheClearingPhaseRemovesPartialCopiesACrashLeftBehind) {
    for (const char* left : {".compac01.mdb.parcial-4242-1", ".compac03.mdb.parcial-17-3",
                             ".compac01-restauracao-pendente.txt.parcial-9-1", ".config", "leia-me.txt"}) {
        writeFile(f() + "/" + left, "x");
    }
    const auto sink = setup.run();
    EXPECT_TRUE(sink.ended());
    EXPECT_EQ(setup.programFiles(), (Events{".config", "compac01.mdb", "compac02.mdb", "leia-me.txt"}));
}

TEST_F(ProcedureEndingsTest, ANextRunClearsWhatTheLastOneLeftAndReusesItsEngine) {
    setup.engine().compact = EngineScript::Compact::WriteNothing;
    (void)setup.run();
    EXPECT_EQ(setup.engine().creations, 1);
    setup.engine().compact = EngineScript::Compact::WriteCompacted;
    const auto sink = setup.run();
    EXPECT_TRUE(sink.ended());
    EXPECT_EQ(setup.engine().creations, 1);
    EXPECT_EQ(setup.engine().calls.back(), "compact " + setup.scratch(2) + " -> " + setup.scratch(3) + " #1");
    const auto again = setup.run();
    EXPECT_TRUE(again.ended());
    EXPECT_EQ(database(), setup.original() + "|reparado|compactado|reparado|compactado");
}

TEST_F(ProcedureEndingsTest, AnAccessFileOfEachFormatGoesThroughTheWholeSequence) {
    for (const char* corpus : {"jet3/testV1997.mdb", "ace12/testV2007.accdb", "ace14/testV2010.accdb"}) {
        SCOPED_TRACE(corpus);
        ProcedureSetup other(corpus, "banco.accdb");
        const auto sink = other.run();
        EXPECT_TRUE(sink.ended());
        EXPECT_EQ(other.contentsOf(other.database()), other.original() + "|reparado|compactado");
    }
}

}  // namespace

namespace {

// Raises a real signal when the run shows the status that starts with `at`.
class SignallingSink : public testing_support::RecordingSink {
public:
    SignallingSink(std::string path, std::string at, int signal)
        : RecordingSink(std::move(path)), at_(std::move(at)), signal_(signal) {}
    void setStatus(const std::string& text) override {
        RecordingSink::setStatus(text);
        if (!raised_ && text.rfind(at_, 0) == 0) {
            raised_ = true;
            std::raise(signal_);
        }
    }

private:
    std::string at_;
    int signal_;
    bool raised_ = false;
};

// A signal during the run puts the database back, says so, and then ends the
// program (the window program has no exit status of its own to carry it).
TEST_F(ProcedureEndingsTest, ASignalWhileTheDatabaseIsAwayPutsItBackAndEndsTheProgram) {
    const std::string before = database();
    for (const int signal : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        SignallingSink sink(setup.database(), "Reparando Banco de Dados", signal);
        setup.run(sink);
        const auto messages = sink.messages();
        ASSERT_GE(messages.size(), 2u);
        EXPECT_NE(std::find(messages.begin(), messages.end(),
                            "O Processo Foi Interrompido (sinal " + maintenance::signalName(signal) + ")."),
                  messages.end());
        EXPECT_EQ(messages.back(), "O Arquivo Não pode ser Reparado/Compactado.");
        EXPECT_EQ(sink.events().back(), "end");
        EXPECT_EQ(setup.procedure().interruptedBy(), signal);
        EXPECT_EQ(database(), before);
    }
    // Without a signal a failed run leaves the program open for another try.
    testing_support::RecordingSink missing(setup.dataFolder() + "/nada.mdb");
    setup.run(missing);
    EXPECT_NE(missing.events().back(), "end");
}

}  // namespace

TEST_F(ProcedureEndingsTest, ARepairThatLostDataSaysWhatAndWhereBeforeTheEnd) {
    setup.engine().losses = maintenance::RepairLosses{3, 1, 2, 2, 7};
    const auto sink = setup.run();
    const std::string said =
        "O reparo não conseguiu manter todos os dados como estavam: 3 linhas descartadas e 1 valores alterados, além "
        "das linhas de 2 páginas ilegíveis, em 2 tabelas (7 itens ao todo). A lista está na tabela MSysCompactError "
        "do banco de dados. O banco como estava antes do reparo ficou na cópia de segurança " +
        setup.scratch(1) + ", que a próxima execução apaga: guarde-a se precisar.";
    EXPECT_EQ(sink.events(),
              untilReinstatement() + message(said) + message("Processo Concluido.") + (Events{"normal", "end"}));
    EXPECT_EQ(setup.contentsOf(setup.scratch(1)), setup.original()) << "the backup is the database before the repair";
}
