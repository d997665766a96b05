// The resumed-error model: whatever the sink, the engine or the file system
// throws, the failing unit is skipped, the run goes on with the next one, and
// nothing escapes the procedure.
#include <cerrno>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "procedure_setup.h"
#include "program_engine.h"

namespace {

using testing_support::EngineScript;
using testing_support::ProcedureSetup;
using testing_support::RecordingSink;
using Call = testing_support::FaultyFileSystem::Call;
using Texts = std::vector<std::string>;

const char* kFailed = "O Arquivo Não pode ser Reparado/Compactado.";

// The events with the setup's temporary folder written as ROOT, so runs in
// different folders compare.
Texts normalised(const Texts& events, const ProcedureSetup& setup) {
    Texts result;
    for (std::string event : events) {
        for (auto at = event.find(setup.root().path()); at != std::string::npos;
             at = event.find(setup.root().path())) {
            event.replace(at, setup.root().path().size(), "ROOT");
        }
        result.push_back(event);
    }
    return result;
}

Texts eventsOfACleanRun(EngineScript::Repair repair) {
    ProcedureSetup setup;
    setup.engine().repair = repair;
    return normalised(setup.run().events(), setup);
}

void sweepSinkFailures(EngineScript::Repair repair, RecordingSink::Throws kind) {
    const Texts clean = eventsOfACleanRun(repair);
    ASSERT_GT(clean.size(), 10u);
    for (std::size_t call = 1; call <= clean.size(); ++call) {
        SCOPED_TRACE("sink call " + std::to_string(call) + ": " + clean[call - 1]);
        ProcedureSetup setup;
        setup.engine().repair = repair;
        RecordingSink sink(setup.database());
        sink.throwAtCall(static_cast<int>(call), kind);
        setup.run(sink);
        if (clean[call - 1] == "read") {
            // Without the path box's text the database path is empty.
            EXPECT_EQ(sink.messages(), (Texts{"O Arquivo  Não Existe. Selecione Outro.", kFailed}));
            EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
            continue;
        }
        Texts expected = clean;
        expected[call - 1] += " (threw)";
        EXPECT_EQ(normalised(sink.events(), setup), expected);
        const std::string database = setup.contentsOf(setup.database());
        EXPECT_EQ(database, repair == EngineScript::Repair::AppendMark ? setup.original() + "|reparado|compactado"
                                                                       : setup.original());
    }
}

TEST(SinkFailureTest, AnySinkCallThatThrowsIsSkippedOnASuccessfulRun) {
    sweepSinkFailures(EngineScript::Repair::AppendMark, RecordingSink::Throws::StdException);
}

TEST(SinkFailureTest, AnySinkCallThatThrowsIsSkippedOnAFailingRun) {
    sweepSinkFailures(EngineScript::Repair::ThrowEngineError, RecordingSink::Throws::StdException);
}

TEST(SinkFailureTest, ThrowingSomethingThatIsNoExceptionClassIsSkippedToo) {
    sweepSinkFailures(EngineScript::Repair::AppendMark, RecordingSink::Throws::NonStandard);
}

TEST(SinkFailureTest, ASinkThatThrowsAtEveryCallLeavesTheDatabaseAlone) {
    ProcedureSetup setup;
    RecordingSink sink(setup.database());
    sink.throwAlways();
    setup.run(sink);
    EXPECT_EQ(sink.events().size(), 6u);  // busy, read, message, status, message, normal
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
}

TEST(EngineLifetimeTest, CreatedOnFirstUseAndRetriedAfterAFailedCreation) {
    ProcedureSetup setup;
    setup.engine().failCreations = 1;
    EXPECT_FALSE(setup.procedure().hasEngine());
    auto sink = setup.run();
    EXPECT_EQ(sink.messages(), (Texts{"Erro ao Reparar Banco de dados : 429 - O componente não pode criar o objeto . "
                                      "Voltando o Backup",
                                      kFailed}));
    EXPECT_FALSE(setup.procedure().hasEngine());
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
    sink = setup.run();
    EXPECT_TRUE(sink.ended());
    EXPECT_TRUE(setup.procedure().hasEngine());
    EXPECT_EQ(setup.engine().creations, 2);
    EXPECT_EQ(setup.engine().engineInstances, 1);
}

TEST(EngineLifetimeTest, AFactoryThatGivesNoEngineIsARepairFailure) {
    ProcedureSetup setup;
    maintenance::Procedure procedure(
        [] { return std::unique_ptr<maintenance::DatabaseEngine>(); }, [&] { return setup.programFolder(); },
        maintenance::systemFileSystem());
    RecordingSink sink(setup.database());
    procedure.run(sink);
    EXPECT_EQ(sink.messages().front(), "Erro ao Reparar Banco de dados : -1 - O mecanismo de banco de dados não pôde "
                                       "ser criado . Voltando o Backup");
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
}

TEST(EngineLifetimeTest, TheProgramEngineEitherWorksOrReportsItsOwnErrorAndTheBackupGoesBack) {
    ProcedureSetup setup;
    // What the program's engine does with this file, asked directly on a copy.
    const std::string probe = setup.dataFolder() + "/sonda.mdb";
    testing_support::writeFile(probe, setup.original());
    std::optional<maintenance::EngineError> repairError;
    try {
        maintenance::programEngineFactory()()->repair(probe);
    } catch (const maintenance::EngineError& e) {
        repairError = e;
    }
    maintenance::Procedure procedure(maintenance::programEngineFactory(), [&] { return setup.programFolder(); },
                                     maintenance::systemFileSystem());
    RecordingSink sink(setup.database());
    procedure.run(sink);
    if (repairError) {
        EXPECT_EQ(testing_support::readFile(probe), setup.original());
        EXPECT_EQ(sink.messages(),
                  (Texts{"Erro ao Reparar Banco de dados : " + std::to_string(repairError->number()) + " - " +
                             std::string(repairError->what()).replace(
                                 std::string(repairError->what()).find(probe), probe.size(), setup.database()) +
                             " . Voltando o Backup",
                         kFailed}));
        EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
    } else {
        EXPECT_TRUE(sink.ended());
    }
}

// An existence test that cannot be evaluated takes the check's guarded branch.
class FailedExistenceTest : public ::testing::Test {
protected:
    ProcedureSetup setup;
};

TEST_F(FailedExistenceTest, AtStep4TheDatabaseCountsAsMissing) {
    setup.fileSystem().failWhen(Call::Status, setup.database(), EIO);
    const auto sink = setup.run();
    EXPECT_EQ(sink.messages(), (Texts{"O Arquivo " + setup.database() + " Não Existe. Selecione Outro.", kFailed}));
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
}

TEST_F(FailedExistenceTest, AtStep5And6TheScratchFileIsRemovedThenReported) {
    // The first look at scratch 3, by the guard against a database that is a
    // scratch file, succeeds; every look after it, in the clearing phase, fails.
    int looks = 0;
    setup.fileSystem().setRule([&](long, Call call, const std::string& path) {
        if (call != Call::Status || path != setup.scratch(3)) return 0;
        return ++looks > 1 ? EIO : 0;
    });
    const auto sink = setup.run();
    EXPECT_EQ(sink.messages(), (Texts{"O Arquivo Temporario 3 Não pode ser apagado para inicio do processo. Pode "
                                      "estar em uso por outro processo.",
                                      kFailed}));
    // The removal was attempted although nothing was there.
    bool triedRemoval = false;
    for (const std::string& entry : setup.fileSystem().log()) {
        triedRemoval = triedRemoval || entry == "linkStatus " + setup.scratch(3);
    }
    EXPECT_TRUE(triedRemoval);
}

TEST_F(FailedExistenceTest, AtStep22TheBackupGoesBackOverTheCompactedFile) {
    // Only the first look at the database path after the reinstatement fails.
    auto& fs = setup.fileSystem();
    bool reinstated = false;
    bool failedOnce = false;
    fs.setRule([&](long, Call call, const std::string& path) {
        if (call == Call::MoveNoReplace && path == setup.scratch(3)) reinstated = true;
        if (reinstated && !failedOnce && call == Call::Status && path == setup.database()) {
            failedOnce = true;
            return EIO;
        }
        return 0;
    });
    const auto sink = setup.run();
    EXPECT_EQ(sink.messages(), (Texts{"Erro No Processo. O arquivo " + setup.scratch(3) +
                                          " Não Pode Ser Renoemado. . Voltando o Backup.",
                                      kFailed}));
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
}

}  // namespace
