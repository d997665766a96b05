#include "jet/check/finding.h"

#include <algorithm>

namespace jet {

std::string findingClassName(FindingClass c) {
    switch (c) {
        case FindingClass::Damage: return "dano";
        case FindingClass::SpaceLeak: return "vazamento de espaço";
        case FindingClass::StaleStatistic: return "estatística desatualizada";
        case FindingClass::Unverified: return "não verificado";
    }
    return "?";
}

std::string findingClassCode(FindingClass c) {
    switch (c) {
        case FindingClass::Damage: return "damage";
        case FindingClass::SpaceLeak: return "leak";
        case FindingClass::StaleStatistic: return "stale";
        case FindingClass::Unverified: return "unverified";
    }
    return "?";
}

std::string countedText(std::uint64_t n, const std::string& one, const std::string& many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Finding::describe() const {
    std::string out = "[" + findingClassName(kind) + "] ";
    std::string where;
    auto add = [&](const std::string& part) {
        if (!where.empty()) where += ", ";
        where += part;
    };
    if (!table.empty()) add("tabela " + table);
    if (!index.empty()) add("índice " + index);
    if (page) add("página " + std::to_string(*page));
    if (row) add("linha " + std::to_string(*row));
    if (offset) add("posição " + std::to_string(*offset));
    if (!where.empty()) out += where + ": ";
    out += message;
    return out;
}

std::size_t CheckReport::count(FindingClass c) const {
    return static_cast<std::size_t>(
        std::count_if(findings.begin(), findings.end(), [c](const Finding& f) { return f.kind == c; }));
}

std::size_t CheckReport::occurrences(FindingClass c) const {
    std::size_t n = 0;
    for (const Finding& f : findings)
        if (f.kind == c) n += f.occurrences;
    return n;
}

std::size_t CheckReport::count(const std::string& code) const {
    return static_cast<std::size_t>(
        std::count_if(findings.begin(), findings.end(), [&](const Finding& f) { return f.code == code; }));
}

}  // namespace jet
