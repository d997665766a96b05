#include "path_parts.h"

namespace maintenance {

std::string parentFolder(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return ".";
    if (slash == 0) return "/";
    return std::string(path.substr(0, slash));
}

std::string lastElement(std::string_view path) {
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return std::string(path);
    return std::string(path.substr(slash + 1));
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string joined(folder);
    if (joined.empty() || joined.back() != '/') joined += '/';
    joined += name;
    return joined;
}

}  // namespace maintenance
