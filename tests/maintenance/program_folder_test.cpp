// Where the scratch files live: the executable's folder, or the user's data
// folder when an installed program cannot write beside itself.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "child_process.h"
#include "procedure_setup.h"
#include "program_folder.h"

namespace {

using maintenance::ProgramFolder;
using testing_support::fileExists;
using testing_support::TempFolder;
using Call = testing_support::FaultyFileSystem::Call;

ProgramFolder::Environment environment(std::map<std::string, std::string> values) {
    return [values](const std::string& name) -> std::optional<std::string> {
        const auto found = values.find(name);
        if (found == values.end()) return std::nullopt;
        return found->second;
    };
}

class ProgramFolderTest : public ::testing::Test {
protected:
    ProgramFolderTest() {
        testing_support::makeFolder(installed);
        // The installed program's folder is read-only to this user.
        fs->failWhen(Call::CanWriteFolder, installed, EACCES);
    }
    std::string locate(std::map<std::string, std::string> values) {
        return ProgramFolder(fs, installed, environment(std::move(values))).locate();
    }
    TempFolder root;
    std::string installed = root / "bin";
    std::shared_ptr<testing_support::FaultyFileSystem> fs = std::make_shared<testing_support::FaultyFileSystem>();
};

TEST_F(ProgramFolderTest, AWritableExecutableFolderIsTheProgramFolder) {
    fs->clearRule();
    EXPECT_EQ(locate({{"XDG_DATA_HOME", root / "dados"}}), installed);
    EXPECT_FALSE(fileExists(root / "dados"));
}

TEST_F(ProgramFolderTest, OtherwiseTheXdgDataFolderIsUsedAndMade) {
    EXPECT_EQ(locate({{"XDG_DATA_HOME", root / "xdg/dados"}, {"HOME", root / "casa"}}), root / "xdg/dados/compactador");
    struct stat st {};
    ASSERT_EQ(::stat((root / "xdg/dados/compactador").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Found again as it is the next time.
    EXPECT_EQ(locate({{"XDG_DATA_HOME", root / "xdg/dados"}}), root / "xdg/dados/compactador");
}

TEST_F(ProgramFolderTest, WithoutAnAbsoluteXdgFolderTheHomeLocalShareIsUsed) {
    testing_support::makeFolder(root / "casa");
    EXPECT_EQ(locate({{"XDG_DATA_HOME", "relativo/dados"}, {"HOME", root / "casa"}}),
              root / "casa/.local/share/compactador");
    EXPECT_EQ(locate({{"XDG_DATA_HOME", ""}, {"HOME", root / "casa"}}), root / "casa/.local/share/compactador");
    EXPECT_TRUE(fileExists(root / "casa/.local/share/compactador"));
}

TEST_F(ProgramFolderTest, WhenNothingIsUsableTheExecutableFolderIsStillGiven) {
    EXPECT_EQ(locate({}), installed);
    EXPECT_EQ(locate({{"HOME", "casa-relativa"}}), installed);
    testing_support::writeFile(root / "arquivo", "x");
    EXPECT_EQ(locate({{"XDG_DATA_HOME", root / "arquivo"}}), installed);  // a file where a folder should be
}

TEST_F(ProgramFolderTest, TheMessagesShowTheRealScratchPaths) {
    testing_support::ProcedureSetup setup;
    testing_support::EngineScript script;
    const std::string data = root / "xdg";
    maintenance::Procedure procedure(
        testing_support::scriptedEngineFactory(script),
        [&] { return ProgramFolder(fs, installed, environment({{"XDG_DATA_HOME", data}})).locate(); }, fs);
    testing_support::RecordingSink sink(setup.database());
    procedure.run(sink);
    ASSERT_TRUE(sink.ended());
    EXPECT_EQ(sink.statuses().front(), "Fazendo Copia de Seguranca para " + data + "/compactador/compac01.mdb");
    EXPECT_EQ(testing_support::folderNames(data + "/compactador"),
              (std::vector<std::string>{"compac01.mdb", "compac02.mdb"}));
    EXPECT_TRUE(testing_support::folderNames(installed).empty());
}

TEST(ProgramFolderRealTest, AnInstalledFolderThatOnlyRootMayWriteSendsOthersToTheirDataFolder) {
    TempFolder root;
    const std::string installed = root / "usr-bin";
    testing_support::makeFolder(installed);
    ASSERT_EQ(::chmod(installed.c_str(), 0555), 0);
    const std::string home = root / "casa";
    testing_support::makeFolder(home);
    // As nobody when started as root (root writes everywhere); as the user otherwise.
    const int result = testing_support::runInChild(
        [&] {
            ProgramFolder folder(maintenance::systemFileSystem(), installed, environment({{"HOME", home}}));
            return folder.locate() == home + "/.local/share/compactador" ? 0 : 1;
        },
        true);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(fileExists(home + "/.local/share/compactador"));
}

TEST_F(ProgramFolderTest, ASystemBinFolderIsNeverTheProgramFolderEvenWhenItCanBeWritten) {
    fs->clearRule();
    for (const std::string system : {"/usr/local/bin", "/usr/bin", "/opt/compactador/bin", "/bin"}) {
        EXPECT_EQ(ProgramFolder(fs, system, environment({{"XDG_DATA_HOME", root / "xdg"}}), 0).locate(),
                  root / "xdg/compactador")
            << system;
    }
    EXPECT_FALSE(fileExists("/usr/local/bin/compac01.mdb"));
}

TEST_F(ProgramFolderTest, AFolderOfAnotherUserIsNotTheProgramFolder) {
    fs->clearRule();
    struct stat st {};
    ASSERT_EQ(::stat(installed.c_str(), &st), 0);
    const auto xdg = environment({{"XDG_DATA_HOME", root / "xdg"}});
    EXPECT_EQ(ProgramFolder(fs, installed, xdg, st.st_uid).locate(), installed);
    EXPECT_EQ(ProgramFolder(fs, installed, xdg, st.st_uid + 1).locate(), root / "xdg/compactador");
}

TEST(ProgramFolderRealTest, TheExecutableFolderHoldsThisTestProgram) {
    const std::string folder = ProgramFolder::executableFolder();
    EXPECT_TRUE(fileExists(folder + "/maintenance_tests"));
}

}  // namespace
