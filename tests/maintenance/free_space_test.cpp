// Before the backup, a run makes sure the program folder has room for the
// backup and the compacted file, and stops with the folder, the space needed and
// the space free when it does not.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "procedure_setup.h"

namespace {

using testing_support::ProcedureSetup;
using Texts = std::vector<std::string>;

constexpr const char* kFailed = "O Arquivo Não pode ser Reparado/Compactado.";

std::string megabytes(std::uint64_t bytes) {
    char text[48];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return text;
}

TEST(FreeSpaceTest, TooLittleRoomInTheProgramFolderStopsBeforeTheBackup) {
    ProcedureSetup setup;
    const std::uint64_t size = setup.original().size();
    setup.fileSystem().reportFreeSpace(setup.programFolder(), 2 * size - 1);
    const auto sink = setup.run();
    EXPECT_EQ(sink.messages(),
              (Texts{"Não Há Espaço Livre Suficiente em " + setup.programFolder() + ": o processo precisa de " +
                         megabytes(2 * size) + " (" + std::to_string(2 * size) + " bytes) e há " +
                         megabytes(2 * size - 1) + " (" + std::to_string(2 * size - 1) +
                         " bytes) livres. O Arquivo Principal Não Foi Alterado.",
                     kFailed}));
    EXPECT_TRUE(setup.programFiles().empty());
    EXPECT_EQ(setup.contentsOf(setup.database()), setup.original());
    EXPECT_TRUE(setup.engine().calls.empty());
}

TEST(FreeSpaceTest, RoomForTheBackupAndTheCompactedFileIsEnough) {
    ProcedureSetup setup;
    setup.fileSystem().reportFreeSpace(setup.programFolder(), 2 * setup.original().size());
    EXPECT_TRUE(setup.run().ended());
}

TEST(FreeSpaceTest, FreeSpaceThatCannotBeToldDoesNotStopTheRun) {
    ProcedureSetup setup;
    setup.fileSystem().failWhen(testing_support::FaultyFileSystem::Call::FreeSpace, setup.programFolder(), EIO);
    EXPECT_TRUE(setup.run().ended());
}

}  // namespace
