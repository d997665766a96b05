#pragma once

#include <string_view>

namespace maintenance {

// File-name patterns as a directory-listing lookup takes them: '*' stands for
// any run of characters, '?' for exactly one; everything else, '[' included,
// stands for itself.
bool hasWildcard(std::string_view name);
bool matchesWildcard(std::string_view pattern, std::string_view name);

}  // namespace maintenance
