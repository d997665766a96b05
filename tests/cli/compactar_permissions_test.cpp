// What a run of compactar leaves for other users to read: the database keeps its
// mode, owner, group and extended attributes; the scratch files are private.
// Run as root, the database belongs to a second, ordinary user; the same user
// then runs the program on a database of its own.
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "program_run.h"
#include "second_user.h"
#include "temp_folder.h"

namespace {

using testing_support::Account;
using testing_support::folderNames;
using testing_support::ProgramRun;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;

struct stat statOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st;
}

class CompactarPermissionsTest : public ::testing::TestWithParam<mode_t> {
protected:
    void SetUp() override {
        const std::optional<Account> found = testing_support::secondUser();
        if (!found) GTEST_SKIP() << "needs root and useradd for a second user";
        user = *found;
        testing_support::makeFolder(bin);
        testing_support::makeFolder(data);
        writeFile(program, readFile(COMPACTAR_BINARY));
        ASSERT_EQ(::chmod(program.c_str(), 0755), 0);
        writeFile(database, original);
        ASSERT_EQ(::chown(database.c_str(), user.uid, user.gid), 0);
        ASSERT_EQ(::chmod(database.c_str(), GetParam()), 0);
        extended = ::setxattr(database.c_str(), "user.origem", "loja", 4, 0) == 0;
    }

    // Every scratch file beside the program: nobody but its owner may read it.
    void expectPrivateScratchFiles() {
        for (const std::string& name : folderNames(bin)) {
            if (name == "compactar") continue;
            EXPECT_EQ(statOf(bin + "/" + name).st_mode & 077, 0u) << name;
        }
    }

    void expectDatabaseKept(const ProgramRun& run) {
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        const struct stat st = statOf(database);
        EXPECT_EQ(st.st_mode & 07777, GetParam());
        EXPECT_EQ(st.st_uid, user.uid);
        EXPECT_EQ(st.st_gid, user.gid);
        if (extended) {
            char value[16] = {};
            EXPECT_EQ(::getxattr(database.c_str(), "user.origem", value, sizeof value), 4);
            EXPECT_EQ(std::string(value), "loja");
        }
        EXPECT_EQ(folderNames(data), std::vector<std::string>{"loja.mdb"});
    }

    Account user;
    bool extended = false;
    TempFolder root;
    std::string bin = root / "bin";
    std::string data = root / "dados";
    std::string program = bin + "/compactar";
    std::string database = data + "/loja.mdb";
    std::string original = testing_support::corpusFile("jet4/testV2003.mdb");
};

TEST_P(CompactarPermissionsTest, RunByRootTheDatabaseKeepsItsOwnersModeAndTheScratchFilesArePrivate) {
    const ProgramRun run = testing_support::runProgram(program, {database}, root);
    expectDatabaseKept(run);
    EXPECT_FALSE(folderNames(bin).size() == 1u) << "no scratch file was made";
    expectPrivateScratchFiles();
    // The backup is root's copy; the set-aside database is the user's own file.
    EXPECT_EQ(statOf(bin + "/compac01.mdb").st_uid, 0u);
}

TEST_P(CompactarPermissionsTest, RunByTheOwnerTheDatabaseKeepsItsModeAndTheScratchFilesArePrivate) {
    ASSERT_EQ(::chown(bin.c_str(), user.uid, user.gid), 0);
    ASSERT_EQ(::chmod(bin.c_str(), 0755), 0);
    ASSERT_EQ(::chown(data.c_str(), user.uid, user.gid), 0);
    ASSERT_EQ(::chmod(data.c_str(), 0755), 0);
    const ProgramRun run = testing_support::runProgramAs(user, program, {database}, root);
    expectDatabaseKept(run);
    expectPrivateScratchFiles();
    for (const std::string& name : folderNames(bin)) {
        EXPECT_EQ(statOf(bin + "/" + name).st_uid, name == "compactar" ? 0u : user.uid) << name;
    }
}

TEST_P(CompactarPermissionsTest, AFailedRunPutsTheBackupBackWithTheDatabasesOwnerAndMode) {
    // Not a database: the repair fails and the backup goes back.
    const std::string bytes = "isto não é um banco de dados";
    writeFile(database, bytes);
    const ProgramRun run = testing_support::runProgram(program, {database}, root);
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_NE(run.err.find("Voltando Backup"), std::string::npos) << run.err;
    EXPECT_EQ(readFile(database), bytes);
    const struct stat st = statOf(database);
    EXPECT_EQ(st.st_mode & 07777, GetParam());
    EXPECT_EQ(st.st_uid, user.uid);
    EXPECT_EQ(st.st_gid, user.gid);
    expectPrivateScratchFiles();
}

INSTANTIATE_TEST_SUITE_P(Modes, CompactarPermissionsTest, ::testing::Values(0600, 0640, 0644),
                         [](const ::testing::TestParamInfo<mode_t>& info) {
                             return "Mode" + std::to_string((info.param >> 6) & 7) +
                                    std::to_string((info.param >> 3) & 7) + std::to_string(info.param & 7);
                         });

}  // namespace
