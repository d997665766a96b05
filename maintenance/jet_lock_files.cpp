#include "jet_lock_files.h"

#include <cctype>

#include "path_parts.h"

namespace maintenance {
namespace {

std::string lowered(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::vector<std::string> jetLockFiles(const std::string& databasePath) {
    const std::string name = lastElement(databasePath);
    if (name.empty()) return {};
    const auto dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0;
    const std::string stem = hasExtension ? name.substr(0, dot) : name;
    const std::string extension = hasExtension ? lowered(name.substr(dot)) : std::string();
    const std::string folderPrefix = databasePath.substr(0, databasePath.size() - name.size());
    if (extension == ".accdb") {
        return {folderPrefix + stem + ".laccdb", folderPrefix + stem + ".LACCDB"};
    }
    return {folderPrefix + stem + ".ldb", folderPrefix + stem + ".LDB"};
}

}  // namespace maintenance
