#pragma once

#include <string>
#include <string_view>

namespace maintenance {

// Plain string handling of '/'-separated paths; nothing is looked up.
std::string parentFolder(std::string_view path);  // "." for a bare name, "/" for "/x"
std::string lastElement(std::string_view path);   // "" when the path ends with '/'
std::string joinPath(std::string_view folder, std::string_view name);

}  // namespace maintenance
