#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "file_system.h"

namespace maintenance {

// Where the scratch files live: the folder of the running executable, or, when
// the program is installed (its folder lies under /usr, /opt, /bin or /sbin, or
// belongs to another user) or cannot write there, a folder of its own in the
// user's data folder ($XDG_DATA_HOME, else ~/.local/share), even for root.
class ProgramFolder {
public:
    using Environment = std::function<std::optional<std::string>(const std::string& name)>;

    static constexpr const char* kDataFolderName = "compactador";

    // `user`: the user the folders are judged for (by default, this process's).
    ProgramFolder(std::shared_ptr<FileSystem> fileSystem, std::string executableFolder, Environment environment,
                  std::optional<std::uint32_t> user = std::nullopt);

    // Never empty. When no folder is usable the executable's folder is given
    // anyway, so the operations fail there and the messages name it.
    std::string locate();

    // The folder of /proc/self/exe; throws FileError when it cannot be read.
    static std::string executableFolder();
    static Environment processEnvironment();

private:
    // A folder a program is installed in, which nothing but installing writes to.
    bool isInstalledFolder(const std::string& folder);
    std::optional<std::string> dataFolder();
    bool makeFolders(const std::string& folder);

    std::shared_ptr<FileSystem> fs_;
    std::string executableFolder_;
    Environment environment_;
    std::uint32_t user_;
};

// The procedure's default: locates the program folder on the real file system.
std::string locateProgramFolder();

}  // namespace maintenance
