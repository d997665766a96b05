#include "wildcard_pattern.h"

#include <cstddef>

namespace maintenance {

bool hasWildcard(std::string_view name) { return name.find_first_of("*?") != std::string_view::npos; }

bool matchesWildcard(std::string_view pattern, std::string_view name) {
    // Greedy match with one back-track point: linear in practice, never recursive.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starAt = std::string_view::npos;
    std::size_t resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

}  // namespace maintenance
