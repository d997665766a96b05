// compactar PATH stopped by a real signal at each step of its run: the run is
// paused at a named step (COMPACTAR_TEST_PAUSE_AT), signalled, and must leave the
// database at its path with its bytes and mode, and exit with 128 + the signal.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "temp_folder.h"

namespace {

using testing_support::fileExists;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;

constexpr int kWaitTenths = 600;  // for the step to be reached: far more than it takes

struct Interrupted {
    int status = -1;  // exit status, -1 when the program did not exit by itself
    bool reachedStep = false;
    std::string out;
    std::string err;
};

class InterruptedRun : public ::testing::Test {
protected:
    InterruptedRun() {
        testing_support::makeFolder(bin);
        testing_support::makeFolder(data);
        writeFile(program, readFile(COMPACTAR_BINARY));
        ::chmod(program.c_str(), 0755);
        writeFile(database, original);
        ::chmod(database.c_str(), 0640);
    }

    // Starts the program on the database; with `step`, it pauses there.
    pid_t start(const std::string& step) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(120);
            if (!step.empty()) ::setenv("COMPACTAR_TEST_PAUSE_AT", step.c_str(), 1);
            ::alarm(300);  // never outlives the test run
            ::execl(program.c_str(), program.c_str(), database.c_str(), static_cast<char*>(nullptr));
            ::_exit(122);
        }
        return pid;
    }

    bool reachedStep(const std::string& step) {
        for (int tenth = 0; tenth < kWaitTenths; ++tenth) {
            const std::string lines = fileExists(errPath) ? "\n" + readFile(errPath) : std::string();
            if (lines.find("\n" + step) != std::string::npos) return true;
            ::usleep(100 * 1000);
        }
        return false;
    }

    static int waitFor(pid_t pid) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    Interrupted runInterrupted(const std::string& step, int signal) {
        const pid_t pid = start(step);
        Interrupted result;
        result.reachedStep = reachedStep(step);
        ::kill(pid, result.reachedStep ? signal : SIGKILL);
        result.status = waitFor(pid);
        result.out = readFile(outPath);
        result.err = readFile(errPath);
        return result;
    }

    mode_t modeOf(const std::string& path) {
        struct stat st {};
        EXPECT_EQ(::stat(path.c_str(), &st), 0);
        return st.st_mode & 07777;
    }

    TempFolder root;
    std::string outPath = root / "saida.txt";
    std::string errPath = root / "erros.txt";
    std::string bin = root / "bin";
    std::string data = root / "dados";
    std::string program = bin + "/compactar";
    std::string database = data + "/loja.mdb";
    std::string original = testing_support::corpusFile("jet4/testV2003.mdb");
};

class CompactarInterruptionTest : public InterruptedRun,
                                  public ::testing::WithParamInterface<std::tuple<std::string, int>> {};

std::string interruptedLine(int signal) {
    return "O Processo Foi Interrompido (sinal " + std::string(signal == SIGINT    ? "SIGINT"
                                                               : signal == SIGTERM ? "SIGTERM"
                                                               : signal == SIGHUP  ? "SIGHUP"
                                                                                   : "SIGQUIT") +
           ").\n";
}

TEST_P(CompactarInterruptionTest, TheDatabaseIsAtItsPathWithItsBytesAndModeAfterwards) {
    const auto& [step, signal] = GetParam();
    const Interrupted run = runInterrupted(step, signal);
    ASSERT_TRUE(run.reachedStep) << run.err;
    const bool databaseAway = step != "Fazendo Copia";
    const bool afterReinstatement = step == "Restaurando Arquivo.";
    ASSERT_TRUE(fileExists(database));
    EXPECT_EQ(modeOf(database), 0640u);
    if (afterReinstatement) {
        // Too late to stop: the run ends as it would have.
        EXPECT_EQ(run.status, 0) << run.out << run.err;
        EXPECT_EQ(run.out, "Processo Concluido.\n");
        return;
    }
    EXPECT_EQ(run.status, 128 + signal) << run.out << run.err;
    EXPECT_TRUE(readFile(database) == original);
    EXPECT_EQ(run.out, interruptedLine(signal) + "O Arquivo Não pode ser Reparado/Compactado.\n");
    const bool restored = run.err.find("\nVoltando Backup\n") != std::string::npos;
    EXPECT_EQ(restored, databaseAway) << run.err;
    // The run left nothing that keeps the next one from starting.
    EXPECT_FALSE(fileExists(bin + "/compac01-restauracao-pendente.txt"));
}

// What SIGKILL leaves (as a power cut would), mended by the next run, which is
// for another database here: the first one must be at its path again with its
// original bytes, or, when the kill came after the reinstatement, as a sound
// compacted database; its mode always the original's.
class CompactarKilledTest : public InterruptedRun {
protected:
    void expectMendedByTheNextRun(const std::string& when) {
        const std::string other = data + "/outra.mdb";
        const pid_t next = ::fork();
        if (next == 0) {
            const int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            ::dup2(devnull, 2);
            ::execl(program.c_str(), program.c_str(), other.c_str(), static_cast<char*>(nullptr));
            ::_exit(122);
        }
        EXPECT_EQ(waitFor(next), 1) << when;  // the other database does not exist
        ASSERT_TRUE(fileExists(database)) << when;
        EXPECT_EQ(modeOf(database), 0640u) << when;
        const std::string bytes = readFile(database);
        if (bytes != original) {
            const pid_t check = ::fork();
            if (check == 0) {
                const int devnull = ::open("/dev/null", O_WRONLY);
                ::dup2(devnull, 1);
                ::dup2(devnull, 2);
                ::execl(program.c_str(), program.c_str(), "check", database.c_str(), static_cast<char*>(nullptr));
                ::_exit(122);
            }
            EXPECT_EQ(waitFor(check), 0) << when << ": neither the original nor a sound compacted database";
        }
        EXPECT_EQ(testing_support::folderNames(data), std::vector<std::string>{"loja.mdb"}) << when;
    }
};

TEST_F(CompactarKilledTest, AtEveryStepTheNextRunPutsTheOriginalBack) {
    for (const std::string step :
         {"Fazendo Copia", "Renoemando", "Reparando", "Compactando", "Restaurando Arquivo."}) {
        writeFile(database, original);
        ::chmod(database.c_str(), 0640);
        const pid_t pid = start(step);
        ASSERT_TRUE(reachedStep(step)) << step;
        ::kill(pid, SIGKILL);
        EXPECT_EQ(waitFor(pid), -1);
        expectMendedByTheNextRun(step);
        EXPECT_TRUE(readFile(database) == original) << step;
    }
}

TEST_F(CompactarKilledTest, AtAnyMomentTheNextRunLeavesTheDatabaseWhole) {
    for (int milliseconds = 0; milliseconds <= 400; milliseconds += 8) {
        writeFile(database, original);
        ::chmod(database.c_str(), 0640);
        const pid_t pid = start("");
        ::usleep(static_cast<useconds_t>(milliseconds) * 1000);
        ::kill(pid, SIGKILL);
        (void)waitFor(pid);
        expectMendedByTheNextRun("killed after " + std::to_string(milliseconds) + " ms");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CompactarInterruptionTest,
    ::testing::Combine(::testing::Values("Fazendo Copia", "Renoemando", "Reparando", "Compactando",
                                         "Restaurando Arquivo."),
                       ::testing::Values(SIGINT, SIGTERM, SIGHUP, SIGQUIT)),
    [](const ::testing::TestParamInfo<std::tuple<std::string, int>>& info) {
        std::string name;
        for (const char c : std::get<0>(info.param))
            if (std::isalpha(static_cast<unsigned char>(c))) name += c;
        return name + "Signal" + std::to_string(std::get<1>(info.param));
    });

}  // namespace
