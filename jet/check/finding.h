#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace jet {

// How serious a finding is.
enum class FindingClass : std::uint8_t {
    Damage,          // the file contradicts the format: data may be lost or misread
    SpaceLeak,       // pages or rows nobody uses and nobody may reuse: compaction reclaims them
    StaleStatistic,  // a count or hint that is out of date; Access files really contain these
    Unverified,      // something the checker could not verify (e.g. a character its sort order lacks)
};

// "dano", "vazamento de espaço", "estatística desatualizada", "não verificado".
std::string findingClassName(FindingClass c);
// "damage", "leak", "stale", "unverified": for logs and tests.
std::string findingClassCode(FindingClass c);

// "1 linha", "3 linhas": a count and its noun, for the findings' descriptions.
std::string countedText(std::uint64_t n, const std::string& one, const std::string& many);

// Why a read failed, for a finding's description: where the structure that
// contradicts the format is ("dados danificados (página 12, linha 3)"), or the
// error's own Portuguese message. Never the English detail.
std::string errorCause(const std::exception& e);

// One thing the checker found, with where it is.
struct Finding {
    FindingClass kind = FindingClass::Damage;
    std::string code;     // English identifier of the kind of finding, e.g. "row_count_stale"
    std::string message;  // Portuguese description for users
    std::optional<std::uint32_t> page;
    std::optional<int> row;
    std::optional<std::size_t> offset;
    std::string table;
    std::string index;
    // Where a statistic or counter disagrees with the data: the value the data implies.
    std::optional<std::int64_t> expected;
    // How many findings this one stands for: 1, or, for the line that closes a kind
    // past the cap ("mais 12 ocorrências ..."), the ones not listed.
    std::size_t occurrences = 1;

    // One Portuguese line: "[dano] tabela Clientes, página 12, linha 3: ...".
    std::string describe() const;
};

// Everything a check found.
struct CheckReport {
    std::vector<Finding> findings;
    std::uint32_t pageCount = 0;
    std::uint32_t freePages = 0;     // marked free in the global map
    std::uint32_t leakedPages = 0;   // neither free nor used by any structure
    std::size_t tablesChecked = 0;
    std::size_t rowsChecked = 0;
    std::size_t indexesChecked = 0;
    std::vector<std::uint32_t> usedPagesMarkedFree;  // every one, even past the findings cap
    // Live rows found in each table checked, by the table's definition page (the
    // catalog itself included).
    std::map<std::uint32_t, std::uint64_t> liveRowsByTable;

    // Findings listed (count) and found (occurrences: those past the cap too).
    std::size_t count(FindingClass c) const;
    std::size_t count(const std::string& code) const;
    std::size_t occurrences(FindingClass c) const;
    bool hasDamage() const { return count(FindingClass::Damage) > 0; }
};

}  // namespace jet
