#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/table/table_definition.h"

namespace jet {

// The text collations whose index keys this engine can build (LCID 1033 only).
enum class SortOrder : std::uint8_t {
    General97,      // Jet3 "General"
    GeneralLegacy,  // Jet4+ "General" version 0 (Access 2000-2007)
    General,        // ACE14+ "General" version 1 (Access 2010+)
};

inline constexpr std::uint16_t kGeneralCollation = 1033;

std::string sortOrderName(SortOrder order);  // "General 97", "General legacy", "General"

// The sort order of a text column from its column block; nullopt for a collation
// without a known character table (other LCIDs, unknown versions).
std::optional<SortOrder> sortOrderOfColumn(const Column& column, bool jet3);

// Result of encoding one text value: the key bytes after the column's flag byte
// (ascending form), or the first character the sort order's table lacks. Callers
// must report such a value as not checkable rather than use partial bytes.
struct TextKey {
    std::vector<std::uint8_t> bytes;
    std::optional<std::uint32_t> unsupportedCharacter;  // code-page byte (Jet3) or UTF-16 unit

    bool ok() const { return !unsupportedCharacter.has_value(); }
};

}  // namespace jet
