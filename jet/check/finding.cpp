#include "jet/check/finding.h"

#include <algorithm>

#include "jet/format/jet_error.h"

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

std::string errorCause(const std::exception& e) {
    const auto* jet = dynamic_cast<const JetError*>(&e);
    if (!jet) return e.what();
    const std::string where = jet->location().describe();
    std::string cause = jet->userMessage();
    if (jet->kind() == ErrorKind::Corruption && cause == "O banco de dados está danificado")
        return where.empty() ? "dados danificados" : "dados danificados (" + where + ")";
    // The message begins a sentence of its own; here it continues one.
    if (!cause.empty() && cause[0] >= 'A' && cause[0] <= 'Z' && !(cause.size() > 1 && cause[1] >= 'A' && cause[1] <= 'Z'))
        cause[0] = static_cast<char>(cause[0] - 'A' + 'a');
    return where.empty() ? cause : cause + " (" + where + ")";
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
