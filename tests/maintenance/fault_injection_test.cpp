// Every file-system call of a run made to fail in turn, once or from then on,
// in every phase and on every kind of run: the user's database is never lost.
// After each run it is at its path (as it was, or compacted after a success),
// or the run said that the named backup holds it and the backup does; and a
// later run for another database does not destroy it.
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "procedure_setup.h"

namespace {

using testing_support::EngineScript;
using testing_support::fileExists;
using testing_support::ProcedureSetup;
using testing_support::RecordingSink;
using testing_support::writeFile;

struct Scenario {
    const char* name;
    EngineScript::Repair repair;
    EngineScript::Compact compact;
};

const Scenario kScenarios[] = {
    {"success", EngineScript::Repair::AppendMark, EngineScript::Compact::WriteCompacted},
    {"repair fails", EngineScript::Repair::ThrowEngineError, EngineScript::Compact::WriteCompacted},
    {"compaction writes nothing", EngineScript::Repair::AppendMark, EngineScript::Compact::WriteNothing},
};

const int kErrors[] = {EIO, ENOSPC, EACCES, EBUSY, EXDEV, EROFS};

enum class Mode { Once, FromThenOn };

void prepare(ProcedureSetup& setup, const Scenario& scenario) {
    setup.engine().repair = scenario.repair;
    setup.engine().compact = scenario.compact;
    // Left by an earlier run, so the clearing phase has work too.
    for (int k = 1; k <= 3; ++k) writeFile(setup.scratch(k), "antigo");
}

long callsOfACleanRun(const Scenario& scenario) {
    ProcedureSetup setup;
    prepare(setup, scenario);
    (void)setup.run();
    return setup.fileSystem().calls();
}

bool said(const RecordingSink& sink, const std::string& text) {
    for (const std::string& message : sink.messages()) {
        if (message == text) return true;
    }
    return false;
}

// Names a file's contents for messages; database bytes are no use there.
std::string describe(const ProcedureSetup& setup, const std::string& contents) {
    if (contents == setup.original()) return "the original database";
    if (contents == setup.original() + "|reparado|compactado") return "the compacted database";
    if (contents == setup.original() + "|reparado") return "the repaired database";
    return "something else (" + std::to_string(contents.size()) + " bytes)";
}

// Where the database is after a run, judged by what is on disk and what the run said.
void expectDatabaseKept(const ProcedureSetup& setup, const RecordingSink& sink, bool afterLaterRun) {
    const std::string restoreFailed = "A Cópia de Segurança Não Pode Ser Restaurada em " + setup.database() +
                                      ". O banco de dados está guardado em " + setup.scratch(1) + ".";
    if (fileExists(setup.database())) {
        const std::string atPath = describe(setup, setup.contentsOf(setup.database()));
        if (sink.ended()) {
            EXPECT_EQ(atPath, "the compacted database");
        } else if (said(sink, restoreFailed)) {
            // The compacted file did reach the path, but the run could not
            // tell and could not put the backup back either: both are whole.
            EXPECT_TRUE(atPath == "the original database" || atPath == "the compacted database") << atPath;
            if (!afterLaterRun) {
                EXPECT_EQ(describe(setup, setup.contentsOf(setup.scratch(1))), "the original database");
            }
        } else {
            EXPECT_EQ(atPath, "the original database");
        }
        return;
    }
    EXPECT_TRUE(said(sink, restoreFailed)) << "the database left its path and nobody said where it went";
    ASSERT_TRUE(fileExists(setup.scratch(1))) << (afterLaterRun ? "a later run removed the backup" : "no backup");
    EXPECT_EQ(describe(setup, setup.contentsOf(setup.scratch(1))), "the original database");
}

void sweep(Mode mode) {
    for (const Scenario& scenario : kScenarios) {
        const long calls = callsOfACleanRun(scenario);
        ASSERT_GT(calls, 30);
        for (long failing = 1; failing <= calls; ++failing) {
            const int error = kErrors[failing % (sizeof kErrors / sizeof kErrors[0])];
            SCOPED_TRACE(std::string(scenario.name) + ", call " + std::to_string(failing) + " fails with errno " +
                         std::to_string(error) + (mode == Mode::Once ? " once" : " from then on"));
            ProcedureSetup setup;
            prepare(setup, scenario);
            if (mode == Mode::Once) {
                setup.fileSystem().failCall(failing, error);
            } else {
                setup.fileSystem().failFromCall(failing, error);
            }
            const auto sink = setup.run();
            setup.fileSystem().clearRule();
            expectDatabaseKept(setup, sink, false);
            if (sink.ended()) {
                EXPECT_EQ(sink.messages(), std::vector<std::string>{"Processo Concluido."});
            } else {
                ASSERT_FALSE(sink.messages().empty());
                EXPECT_EQ(sink.messages().back(), "O Arquivo Não pode ser Reparado/Compactado.");
            }
            // A failed copy removes its partial file; only a file system that
            // keeps failing can keep it from doing so (and the file is hidden).
            if (mode == Mode::Once) {
                for (const std::string& name : setup.programFiles()) {
                    EXPECT_EQ(name.find(".parcial-"), std::string::npos) << name;
                }
                for (const std::string& name : setup.dataFiles()) {
                    EXPECT_EQ(name.find(".parcial-"), std::string::npos) << name;
                }
            }

            // The file system recovers and the user compacts another database.
            const std::string other = setup.dataFolder() + "/outra.mdb";
            writeFile(other, "outro banco");
            RecordingSink later(other);
            setup.run(later);
            expectDatabaseKept(setup, sink, true);
            EXPECT_TRUE(fileExists(other));
        }
    }
}

TEST(FaultInjectionTest, EachFileSystemCallFailingOnceNeverLosesTheDatabase) { sweep(Mode::Once); }

TEST(FaultInjectionTest, EachFileSystemCallFailingFromThenOnNeverLosesTheDatabase) { sweep(Mode::FromThenOn); }

}  // namespace
