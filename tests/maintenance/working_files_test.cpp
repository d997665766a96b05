// The existence test and the file operations on a real temporary folder.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include <gtest/gtest.h>

#include "child_process.h"
#include "faulty_file_system.h"
#include "file_error.h"
#include "system_file_system.h"
#include "temp_folder.h"
#include "working_files.h"

namespace {

using maintenance::FileError;
using maintenance::WorkingFiles;
using testing_support::fileExists;
using testing_support::folderNames;
using testing_support::readFile;
using testing_support::TempFolder;
using testing_support::writeFile;
using Call = testing_support::FaultyFileSystem::Call;

int errorNumberOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const FileError& e) {
        return e.number();
    }
    return 0;
}

class ExistenceTest : public ::testing::Test {
protected:
    TempFolder folder;
    WorkingFiles files{maintenance::systemFileSystem()};
};

TEST_F(ExistenceTest, OrdinaryFileIsPresentAndMissingOneAbsent) {
    writeFile(folder / "loja.mdb", "x");
    EXPECT_TRUE(files.isPresent(folder / "loja.mdb"));
    EXPECT_FALSE(files.isPresent(folder / "outra.mdb"));
    EXPECT_FALSE(files.isPresent(folder / "sem-pasta/loja.mdb"));
    EXPECT_FALSE(files.isPresent(folder / "loja.mdb/dentro"));  // a file used as a folder
    EXPECT_FALSE(files.isPresent(""));
}

TEST_F(ExistenceTest, FoldersHiddenFilesAndSpecialFilesAreNotPresent) {
    testing_support::makeFolder(folder / "pasta.mdb");
    writeFile(folder / ".oculto.mdb", "x");
    ASSERT_EQ(::mkfifo((folder / "fila.mdb").c_str(), 0644), 0);
    const std::string socketPath = folder / "tomada.mdb";
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(s);

    EXPECT_FALSE(files.isPresent(folder / "pasta.mdb"));
    EXPECT_FALSE(files.isPresent(folder / ".oculto.mdb"));
    EXPECT_FALSE(files.isPresent(folder / "fila.mdb"));
    EXPECT_FALSE(files.isPresent(socketPath));
    EXPECT_FALSE(files.isPresent("/dev/null"));
    EXPECT_FALSE(files.isPresent(folder.path()));
}

TEST_F(ExistenceTest, SymbolicLinksCountByWhatTheyNameAndRelativePathsWork) {
    writeFile(folder / "loja.mdb", "x");
    ASSERT_EQ(::symlink("loja.mdb", (folder / "atalho.mdb").c_str()), 0);
    ASSERT_EQ(::symlink("nada.mdb", (folder / "quebrado.mdb").c_str()), 0);
    EXPECT_TRUE(files.isPresent(folder / "atalho.mdb"));
    EXPECT_FALSE(files.isPresent(folder / "quebrado.mdb"));

    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(folder.path().c_str()), 0);
    const bool relative = files.isPresent("loja.mdb");
    const bool relativeDotted = files.isPresent("./../" + folder.path().substr(folder.path().rfind('/') + 1) + "/loja.mdb");
    ASSERT_EQ(::chdir(previous), 0);
    EXPECT_TRUE(relative);
    EXPECT_TRUE(relativeDotted);
}

TEST_F(ExistenceTest, WildcardsInTheLastElementMatchOrdinaryVisibleFilesOnly) {
    writeFile(folder / "loja.mdb", "x");
    writeFile(folder / ".loja2.mdb", "x");
    testing_support::makeFolder(folder / "pasta.mdb");
    writeFile(folder / "nota[1].txt", "x");

    EXPECT_TRUE(files.isPresent(folder / "*.mdb"));
    EXPECT_TRUE(files.isPresent(folder / "loj?.mdb"));
    EXPECT_TRUE(files.isPresent(folder / "l*a.m?b"));
    EXPECT_FALSE(files.isPresent(folder / "loj?.accdb"));
    EXPECT_FALSE(files.isPresent(folder / "past*"));     // only a folder matches
    EXPECT_FALSE(files.isPresent(folder / "*loja2*"));   // only a hidden file matches
    EXPECT_TRUE(files.isPresent(folder / "nota[1].t?t"));  // '[' stands for itself
    EXPECT_FALSE(files.isPresent(folder / "nota1.t?t"));
    EXPECT_FALSE(files.isPresent(folder / "sem-pasta/*.mdb"));
    EXPECT_EQ(files.filesMatching(folder / "*.mdb"), std::vector<std::string>{folder / "loja.mdb"});
    // A pattern counts only in the last element; earlier, '*' is just a character.
    EXPECT_THROW(files.isPresent(folder / "*/l*.mdb"), FileError);
    EXPECT_FALSE(files.isPresent(folder / "*/loja.mdb"));
}

TEST_F(ExistenceTest, PathsThatCannotBeLookedUpFail) {
    EXPECT_EQ(errorNumberOf([&] { files.isPresent(folder / std::string("lo\0ja.mdb", 9)); }), EINVAL);
    EXPECT_EQ(errorNumberOf([&] { files.isPresent(folder / std::string(300, 'a')); }), ENAMETOOLONG);
    // The placeholder the file selection writes has characters that are legal
    // here; it is simply not there.
    EXPECT_FALSE(files.isPresent("<<Nenhum Arquivo Selecionado>>"));
}

TEST_F(ExistenceTest, AFolderWithoutPermissionMakesTheTestFailNotAbsent) {
    const std::string closed = folder / "fechada";
    testing_support::makeFolder(closed);
    writeFile(closed + "/loja.mdb", "x");
    ASSERT_EQ(::chmod(closed.c_str(), 0), 0);
    // Root reads every folder, so the check runs as nobody in a child.
    const int result = testing_support::runInChild(
        [&] {
            WorkingFiles childFiles(maintenance::systemFileSystem());
            int outcome = 0;
            try {
                outcome = childFiles.isPresent(closed + "/loja.mdb") ? 1 : 2;
            } catch (const FileError& e) {
                outcome = e.number() == EACCES ? 3 : 4;
            }
            int wildcard = 0;
            try {
                wildcard = childFiles.isPresent(closed + "/*.mdb") ? 1 : 2;
            } catch (const FileError& e) {
                wildcard = e.number() == EACCES ? 3 : 4;
            }
            return outcome * 10 + wildcard;
        },
        true);
    EXPECT_EQ(result, 33);
}

class FileOperationsTest : public ::testing::Test {
protected:
    TempFolder folder;
    std::shared_ptr<testing_support::FaultyFileSystem> fs = std::make_shared<testing_support::FaultyFileSystem>();
    WorkingFiles files{fs};
};

TEST_F(FileOperationsTest, RemoveDeletesFilesAndRefusesFoldersAndMissingFiles) {
    writeFile(folder / "a.mdb", "x");
    files.remove(folder / "a.mdb");
    EXPECT_FALSE(fileExists(folder / "a.mdb"));
    EXPECT_EQ(errorNumberOf([&] { files.remove(folder / "a.mdb"); }), ENOENT);
    testing_support::makeFolder(folder / "p.mdb");
    EXPECT_EQ(errorNumberOf([&] { files.remove(folder / "p.mdb"); }), EISDIR);
    EXPECT_TRUE(fileExists(folder / "p.mdb"));
}

TEST_F(FileOperationsTest, CopyWritesTheWholeFileAndReplacesTheDestination) {
    std::string big(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 % 251);
    writeFile(folder / "a.mdb", big);
    ::chmod((folder / "a.mdb").c_str(), 0640);
    writeFile(folder / "b.mdb", "velho");
    files.copy(folder / "a.mdb", folder / "b.mdb");
    EXPECT_EQ(readFile(folder / "b.mdb"), big);
    EXPECT_EQ(readFile(folder / "a.mdb"), big);
    struct stat st {};
    ASSERT_EQ(::stat((folder / "b.mdb").c_str(), &st), 0);
    // A scratch copy keeps only the owner's bits: no one else reads it.
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(folderNames(folder.path()), (std::vector<std::string>{"a.mdb", "b.mdb"}));
}

TEST_F(FileOperationsTest, ACopyGivenAttributesTakesTheirModeAndExtendedAttributes) {
    writeFile(folder / "a.mdb", "banco");
    ASSERT_EQ(::chmod((folder / "a.mdb").c_str(), 0640), 0);
    const bool extended = ::setxattr((folder / "a.mdb").c_str(), "user.origem", "loja", 4, 0) == 0;
    const maintenance::FileAttributes original = files.attributes(folder / "a.mdb");
    EXPECT_EQ(original.mode, 0640u);
    files.copy(folder / "a.mdb", folder / "c.mdb");
    ASSERT_EQ(::chmod((folder / "a.mdb").c_str(), 0600), 0);
    files.copy(folder / "c.mdb", folder / "b.mdb", original);
    struct stat st {};
    ASSERT_EQ(::stat((folder / "b.mdb").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(readFile(folder / "b.mdb"), "banco");
    if (extended) {
        char value[16] = {};
        EXPECT_EQ(::getxattr((folder / "b.mdb").c_str(), "user.origem", value, sizeof value), 4);
        EXPECT_EQ(std::string(value), "loja");
        EXPECT_LT(::getxattr((folder / "c.mdb").c_str(), "user.origem", value, sizeof value), 0);
    }
}

// A POSIX access ACL in the kernel's own encoding: the owner, a named user
// (uid 12345) who may read, the owning group, the mask and the others.
std::string accessAclGrantingReadTo12345() {
    std::string value;
    const auto put16 = [&](unsigned v) { value += static_cast<char>(v & 0xff), value += static_cast<char>(v >> 8); };
    const auto put32 = [&](unsigned v) { put16(v & 0xffff), put16(v >> 16); };
    const auto entry = [&](unsigned tag, unsigned permissions, unsigned id) { put16(tag), put16(permissions), put32(id); };
    put32(2);                         // version
    entry(0x01, 6, 0xffffffff);       // owner: rw
    entry(0x02, 4, 12345);            // user 12345: r
    entry(0x04, 4, 0xffffffff);       // owning group: r
    entry(0x10, 4, 0xffffffff);       // mask: r
    entry(0x20, 0, 0xffffffff);       // others: nothing
    return value;
}

TEST_F(FileOperationsTest, ACopyGivenAttributesCarriesTheAccessAcl) {
    writeFile(folder / "a.mdb", "banco");
    const std::string acl = accessAclGrantingReadTo12345();
    if (::setxattr((folder / "a.mdb").c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
        GTEST_SKIP() << "this file system keeps no ACLs";
    }
    const maintenance::FileAttributes original = files.attributes(folder / "a.mdb");
    EXPECT_EQ(original.mode & 0777, 0640u);  // the mask shows as the group bits
    files.copy(folder / "a.mdb", folder / "c.mdb");
    char value[256];
    EXPECT_LT(::getxattr((folder / "c.mdb").c_str(), "system.posix_acl_access", value, sizeof value), 0);
    files.copy(folder / "c.mdb", folder / "b.mdb", original);
    const ssize_t size = ::getxattr((folder / "b.mdb").c_str(), "system.posix_acl_access", value, sizeof value);
    ASSERT_GT(size, 0);
    EXPECT_EQ(std::string(value, static_cast<std::size_t>(size)), acl);
    struct stat st {};
    ASSERT_EQ(::stat((folder / "b.mdb").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(FileOperationsTest, MakingPrivateTakesGroupAndOtherBitsOnlyFromAFileWithOneName) {
    writeFile(folder / "a.mdb", "banco");
    writeFile(folder / "b.mdb", "banco");
    ASSERT_EQ(::chmod((folder / "a.mdb").c_str(), 0644), 0);
    ASSERT_EQ(::chmod((folder / "b.mdb").c_str(), 0644), 0);
    ASSERT_EQ(::link((folder / "b.mdb").c_str(), (folder / "b2.mdb").c_str()), 0);
    files.makePrivate(folder / "a.mdb");
    files.makePrivate(folder / "b.mdb");
    struct stat st {};
    ASSERT_EQ(::stat((folder / "a.mdb").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat((folder / "b.mdb").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// The real file system copies inside the kernel; one that stops doing so part way
// (a file system without the call, say) leaves the rest to reads and writes, which
// must carry on exactly where the kernel stopped.
class KernelCopyStopsPartWay : public maintenance::SystemFileSystem {
public:
    int copyRange(int in, int out, std::size_t max, std::size_t& count) override {
        if (calls_++ > 0) {
            count = 0;
            return ENOSYS;
        }
        return SystemFileSystem::copyRange(in, out, std::min<std::size_t>(max, 1000003), count);
    }

private:
    int calls_ = 0;
};

TEST(RealFileCopy, KernelCopyAndTheReadWriteRestGiveTheSameBytes) {
    TempFolder folder;
    std::string big(37 * 1024 * 1024 + 5, '\0');  // more than one kernel copy call
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 131 + i / 4099) % 253);
    writeFile(folder / "a.mdb", big);
    WorkingFiles whole(maintenance::systemFileSystem());
    whole.copy(folder / "a.mdb", folder / "b.mdb");
    EXPECT_TRUE(readFile(folder / "b.mdb") == big);
    WorkingFiles split(std::make_shared<KernelCopyStopsPartWay>());
    split.copy(folder / "a.mdb", folder / "c.mdb");
    EXPECT_TRUE(readFile(folder / "c.mdb") == big);
    EXPECT_EQ(folderNames(folder.path()), (std::vector<std::string>{"a.mdb", "b.mdb", "c.mdb"}));
}

TEST_F(FileOperationsTest, FailedCopyLeavesNoFileBehind) {
    writeFile(folder / "a.mdb", std::string(100000, 'a'));
    EXPECT_EQ(errorNumberOf([&] { files.copy(folder / "nada.mdb", folder / "b.mdb"); }), ENOENT);
    testing_support::makeFolder(folder / "pasta");
    EXPECT_EQ(errorNumberOf([&] { files.copy(folder / "pasta", folder / "b.mdb"); }), EISDIR);
    fs->setRule([](long, Call call, const std::string&) { return call == Call::Write ? ENOSPC : 0; });
    EXPECT_EQ(errorNumberOf([&] { files.copy(folder / "a.mdb", folder / "b.mdb"); }), ENOSPC);
    fs->clearRule();
    EXPECT_EQ(folderNames(folder.path()), (std::vector<std::string>{"a.mdb", "pasta"}));
}

TEST_F(FileOperationsTest, CopyAndMoveFlushTheFileBeforeNamingItAndTheFolderAfter) {
    writeFile(folder / "a.mdb", "conteudo");
    fs->clearLog();
    files.copy(folder / "a.mdb", folder / "b.mdb");
    std::vector<std::string> relevant;
    for (const std::string& entry : fs->log()) {
        if (entry.rfind("flush", 0) == 0 || entry.rfind("move", 0) == 0 || entry.rfind("createNew", 0) == 0) {
            relevant.push_back(entry);
        }
    }
    ASSERT_EQ(relevant.size(), 4u);
    EXPECT_EQ(relevant[0].rfind("createNew " + folder.path() + "/.b.mdb.parcial-", 0), 0u) << relevant[0];
    EXPECT_EQ(relevant[1], "flush " + relevant[0].substr(10));
    EXPECT_EQ(relevant[2], "moveReplacing " + relevant[0].substr(10) + " -> " + folder.path() + "/b.mdb");
    EXPECT_EQ(relevant[3], "flush " + folder.path());

    testing_support::makeFolder(folder / "outra");
    fs->clearLog();
    files.rename(folder / "b.mdb", folder / "outra/c.mdb");
    relevant.clear();
    for (const std::string& entry : fs->log()) {
        if (entry.rfind("flush", 0) == 0 || entry.rfind("move", 0) == 0) relevant.push_back(entry);
    }
    EXPECT_EQ(relevant, (std::vector<std::string>{
                            "moveNoReplace " + folder.path() + "/b.mdb -> " + folder.path() + "/outra/c.mdb",
                            "flush " + folder.path() + "/outra",
                            "flush " + folder.path(),
                        }));
}

TEST_F(FileOperationsTest, RenameMovesAndNeverReplacesAnExistingFile) {
    writeFile(folder / "a.mdb", "A");
    writeFile(folder / "b.mdb", "B");
    EXPECT_EQ(errorNumberOf([&] { files.rename(folder / "a.mdb", folder / "b.mdb"); }), EEXIST);
    EXPECT_EQ(readFile(folder / "a.mdb"), "A");
    EXPECT_EQ(readFile(folder / "b.mdb"), "B");
    files.rename(folder / "a.mdb", folder / "c.mdb");
    EXPECT_FALSE(fileExists(folder / "a.mdb"));
    EXPECT_EQ(readFile(folder / "c.mdb"), "A");
    EXPECT_EQ(errorNumberOf([&] { files.rename(folder / "a.mdb", folder / "d.mdb"); }), ENOENT);
}

// Across file systems the move is a copy, a flush and a delete.
class CrossFileSystemMoveTest : public FileOperationsTest {
protected:
    void makeRenameCrossFileSystems() {
        fs->setRule([](long, Call call, const std::string& path) {
            return call == Call::MoveNoReplace && path.find(".parcial-") == std::string::npos ? EXDEV : 0;
        });
    }
};

TEST_F(CrossFileSystemMoveTest, MovesByCopyThenDeleteWhenRenameReportsExdev) {
    testing_support::makeFolder(folder / "longe");
    writeFile(folder / "a.mdb", std::string(2'000'000, 'q'));
    makeRenameCrossFileSystems();
    files.rename(folder / "a.mdb", folder / "longe/a.mdb");
    EXPECT_FALSE(fileExists(folder / "a.mdb"));
    EXPECT_EQ(readFile(folder / "longe/a.mdb"), std::string(2'000'000, 'q'));
    EXPECT_EQ(folderNames(folder / "longe"), std::vector<std::string>{"a.mdb"});

    writeFile(folder / "b.mdb", "B");
    EXPECT_EQ(errorNumberOf([&] { files.rename(folder / "b.mdb", folder / "longe/a.mdb"); }), EEXIST);
    EXPECT_EQ(readFile(folder / "b.mdb"), "B");
    EXPECT_EQ(folderNames(folder / "longe"), std::vector<std::string>{"a.mdb"});
}

TEST_F(CrossFileSystemMoveTest, WhenTheSourceCannotBeDeletedTheCopyGoesAndTheMoveFails) {
    testing_support::makeFolder(folder / "longe");
    writeFile(folder / "a.mdb", "A");
    fs->setRule([&](long, Call call, const std::string& path) {
        if (call == Call::MoveNoReplace && path.find(".parcial-") == std::string::npos) return EXDEV;
        if (call == Call::RemoveFile && path == folder / "a.mdb") return EACCES;
        return 0;
    });
    EXPECT_EQ(errorNumberOf([&] { files.rename(folder / "a.mdb", folder / "longe/a.mdb"); }), EACCES);
    EXPECT_EQ(readFile(folder / "a.mdb"), "A");
    EXPECT_TRUE(folderNames(folder / "longe").empty());
}

TEST_F(CrossFileSystemMoveTest, EveryFailurePartWayLeavesTheFileAtExactlyOneName) {
    testing_support::makeFolder(folder / "longe");
    writeFile(folder / "a.mdb", "conteudo");
    makeRenameCrossFileSystems();
    files.rename(folder / "a.mdb", folder / "longe/a.mdb");
    files.rename(folder / "longe/a.mdb", folder / "a.mdb");
    const long callsOfOneMove = fs->calls() / 2;
    for (long failing = 1; failing <= callsOfOneMove + 2; ++failing) {
        const long start = fs->calls();
        fs->setRule([&, start, failing](long n, Call call, const std::string& path) {
            if (n - start == failing) return EIO;
            return call == Call::MoveNoReplace && path.find(".parcial-") == std::string::npos ? EXDEV : 0;
        });
        try {
            files.rename(folder / "a.mdb", folder / "longe/a.mdb");
        } catch (const FileError&) {
        }
        fs->clearRule();
        const bool atSource = fileExists(folder / "a.mdb");
        const bool atTarget = fileExists(folder / "longe/a.mdb");
        EXPECT_NE(atSource, atTarget) << "failing call " << failing;
        EXPECT_EQ(readFile(atSource ? folder / "a.mdb" : folder / "longe/a.mdb"), "conteudo");
        EXPECT_EQ(folderNames(folder / "longe").size(), atTarget ? 1u : 0u) << "failing call " << failing;
        if (atTarget) {
            ASSERT_EQ(::rename((folder / "longe/a.mdb").c_str(), (folder / "a.mdb").c_str()), 0);
        }
    }
}

TEST_F(CrossFileSystemMoveTest, MovesBetweenRealFileSystems) {
    // Two folders on different devices: a tmpfs such as /dev/shm beside the
    // temporary folder, when this machine has one.
    struct stat here {};
    struct stat there {};
    ASSERT_EQ(::stat(folder.path().c_str(), &here), 0);
    if (::stat("/dev/shm", &there) != 0 || there.st_dev == here.st_dev || ::access("/dev/shm", W_OK) != 0) {
        GTEST_SKIP() << "no second file system to move to";
    }
    char pattern[] = "/dev/shm/compactador-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string other = pattern;
    WorkingFiles real(maintenance::systemFileSystem());
    writeFile(folder / "a.mdb", std::string(300000, 'z'));
    real.rename(folder / "a.mdb", other + "/a.mdb");
    const bool goneFromSource = !fileExists(folder / "a.mdb");
    const std::string moved = fileExists(other + "/a.mdb") ? readFile(other + "/a.mdb") : std::string();
    writeFile(folder / "b.mdb", "B");
    const int refused = errorNumberOf([&] { real.rename(folder / "b.mdb", other + "/a.mdb"); });
    const auto leftThere = folderNames(other);
    ::unlink((other + "/a.mdb").c_str());
    ::rmdir(other.c_str());
    EXPECT_TRUE(goneFromSource);
    EXPECT_EQ(moved, std::string(300000, 'z'));
    EXPECT_EQ(refused, EEXIST);
    EXPECT_EQ(leftThere, std::vector<std::string>{"a.mdb"});
}

TEST_F(FileOperationsTest, SameFileSeesThroughLinksAndSameContentsComparesBytes) {
    writeFile(folder / "a.mdb", "igual");
    writeFile(folder / "b.mdb", "igual");
    writeFile(folder / "c.mdb", "igualx");
    ASSERT_EQ(::link((folder / "a.mdb").c_str(), (folder / "duro.mdb").c_str()), 0);
    ASSERT_EQ(::symlink((folder / "a.mdb").c_str(), (folder / "mole.mdb").c_str()), 0);
    EXPECT_TRUE(files.sameFile(folder / "a.mdb", folder / "duro.mdb"));
    EXPECT_TRUE(files.sameFile(folder / "mole.mdb", folder / "a.mdb"));
    EXPECT_FALSE(files.sameFile(folder / "a.mdb", folder / "b.mdb"));
    EXPECT_FALSE(files.sameFile(folder / "a.mdb", folder / "nada.mdb"));
    EXPECT_TRUE(files.sameContents(folder / "a.mdb", folder / "b.mdb"));
    EXPECT_FALSE(files.sameContents(folder / "a.mdb", folder / "c.mdb"));
}

}  // namespace
