#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "jet/format/bulk_memory.h"
#include "jet/format/database_header.h"
#include "jet/index/sort_order.h"
#include "jet/table/table_definition.h"
#include "jet/table/value.h"

namespace jet {

// Why a key could not be built. Such entries must be reported as "not checkable",
// never counted as matching.
enum class KeyGapReason : std::uint8_t {
    UnsupportedCharacter,  // a character of the value has no code (a lone surrogate half,
                           // a character General 97's code page lacks)
    UnknownCollation,      // a text column with a collation that has no table
    UnsupportedType,       // a column type with no known key encoding (OLE, unknown codes)
    UnexpectedValue,       // the decoded value does not have the column's type
};

std::string keyGapReasonName(KeyGapReason reason);  // English, for developers

struct KeyGap;
// The reason in Portuguese for findings, naming a character as "U+XXXX".
std::string keyGapDescription(const KeyGap& gap);
// "U+00E9", "U+D800", "U+1F600".
std::string codePointText(std::uint32_t codePoint);

struct KeyGap {
    std::size_t columnIndex = 0;        // position in the index's column list
    KeyGapReason reason = KeyGapReason::UnsupportedType;
    std::uint32_t character = 0;        // UnsupportedCharacter: the code point or UTF-16 unit
    std::string detail;                 // English
};

struct KeyEncoding {
    std::vector<std::uint8_t> bytes;
    std::optional<KeyGap> gap;
    bool ok() const { return !gap.has_value(); }
};

// One column of an index as the encoder needs it.
struct KeyColumn {
    std::uint16_t columnNumber = 0;
    std::uint8_t type = 0;
    bool ascending = true;
    std::optional<SortOrder> sortOrder;  // text columns with a known collation
    std::uint16_t collation = 0;
    std::uint16_t codePage = 0;          // Jet3 text
};

// A text column's value as the UTF-16 code units its key is built from, for a
// caller that has them without decoding the text to UTF-8 first (the
// General97 sort order, which works on code page bytes, cannot take them).
struct KeyText {
    bool given = false;
    std::span<const std::uint16_t> units;
};

// Builds the key bytes of a physical index from a row's decoded values: one segment
// per column (flag byte, then the type's encoding, inverted for descending columns).
class KeyEncoder {
public:
    // Throws JetError (Corruption) when the index names a column the table lacks.
    KeyEncoder(const TableDefinition& table, const PhysicalIndex& index, FormatVersion version);
    KeyEncoder(std::vector<KeyColumn> columns, FormatVersion version);

    // `values`: one per index column, in the index's column order.
    KeyEncoding encode(std::span<const Value> values) const;
    // The same key appended to `out` (no allocation per key for callers that keep
    // many keys in one buffer). On a gap, `out` may hold a partial key.
    std::optional<KeyGap> appendKey(std::span<const Value> values, ByteArena& out) const;
    // The same, with `texts[i]`, where given, standing for the (present) value of
    // text column i in place of `values[i]`.
    std::optional<KeyGap> appendKey(std::span<const Value> values, std::span<const KeyText> texts,
                                    ByteArena& out) const;

    const std::vector<KeyColumn>& columns() const { return columns_; }

private:
    std::vector<KeyColumn> columns_;
    FormatVersion version_;
};

}  // namespace jet
