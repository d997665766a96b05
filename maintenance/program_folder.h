#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "file_system.h"

namespace maintenance {

// Where the scratch files live: the folder of the running executable, or, when
// an installed program cannot write there, a folder of its own in the user's
// data folder ($XDG_DATA_HOME, else ~/.local/share).
class ProgramFolder {
public:
    using Environment = std::function<std::optional<std::string>(const std::string& name)>;

    static constexpr const char* kDataFolderName = "compactador";

    ProgramFolder(std::shared_ptr<FileSystem> fileSystem, std::string executableFolder, Environment environment);

    // Never empty. When no folder is usable the executable's folder is given
    // anyway, so the operations fail there and the messages name it.
    std::string locate();

    // The folder of /proc/self/exe; throws FileError when it cannot be read.
    static std::string executableFolder();
    static Environment processEnvironment();

private:
    std::optional<std::string> dataFolder();
    bool makeFolders(const std::string& folder);

    std::shared_ptr<FileSystem> fs_;
    std::string executableFolder_;
    Environment environment_;
};

// The procedure's default: locates the program folder on the real file system.
std::string locateProgramFolder();

}  // namespace maintenance
