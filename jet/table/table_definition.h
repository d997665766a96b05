#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/format/page_number.h"
#include "jet/table/column_type.h"

namespace jet {

// Jet compares the names of tables, columns and indexes without regard to the
// case of ASCII letters.
bool sameObjectName(std::string_view a, std::string_view b);
// `name` with its ASCII letters in lower case: a key for such comparisons.
std::string lowerAsciiName(std::string name);

// Column flags (byte 13 Jet3 / 15 Jet4+ of a column block).
namespace column_flag {
inline constexpr std::uint8_t Fixed = 0x01;
inline constexpr std::uint8_t Updatable = 0x02;
inline constexpr std::uint8_t Autonumber = 0x04;
inline constexpr std::uint8_t Replication = 0x10;
inline constexpr std::uint8_t GeneratedGuid = 0x40;  // meaningful on GUID columns only
inline constexpr std::uint8_t Hyperlink = 0x80;
}  // namespace column_flag

// Extended flags (byte 16 of a Jet4+ column block).
namespace column_extended_flag {
inline constexpr std::uint8_t CompressedUnicode = 0x01;
inline constexpr std::uint8_t Calculated = 0xC0;
}  // namespace column_extended_flag

struct Column {
    std::string name;
    std::uint8_t type = 0;            // column_type code
    std::uint16_t number = 0;         // stable column number: null-mask bit
    std::uint16_t varSlot = 0;        // var offset table slot (variable columns)
    std::uint16_t fixedOffset = 0;    // offset in the fixed area (fixed columns)
    std::uint16_t length = 0;         // max bytes (Text/Binary), fixed size, 0 for Memo/OLE
    std::uint8_t flags = 0;           // column_flag bits
    std::uint8_t extendedFlags = 0;   // column_extended_flag (Jet4+), 0 in Jet3
    std::uint16_t designPosition = 0; // unknown ordinal (Jet3 +5, Jet4+ +9)
    std::uint16_t collation = 0;      // text sort order LCID (1033 = General)
    std::uint8_t sortOrderVersion = 0;// Jet4+ text: 0 General legacy, 1 General
    std::uint16_t codePage = 0;       // Jet3 only (1252)
    std::uint8_t precision = 0;       // Numeric
    std::uint8_t scale = 0;           // Numeric
    std::uint32_t complexId = 0;      // Complex (ACE)
    std::uint8_t resultType = 0;      // calculated columns: type of the stored result (ResultType property), 0 = unknown
    std::size_t blockIndex = 0;       // position of the block in the TDEF list
    std::vector<std::uint8_t> rawBlock;  // the column block as stored

    bool isFixed() const { return (flags & column_flag::Fixed) != 0; }
    bool isBoolean() const { return type == column_type::Boolean; }
    bool isLongValue() const { return isLongValueType(type); }
    // Values are long-value descriptors: Memo/OLE, and calculated columns whose result is a Memo.
    bool storesLongValue() const { return isLongValue() || (isCalculated() && isLongValueType(resultType)); }
    bool isAutonumber() const { return (flags & column_flag::Autonumber) != 0; }
    bool isCalculated() const {
        return (extendedFlags & column_extended_flag::Calculated) == column_extended_flag::Calculated;
    }
    bool allowsCompressedUnicode() const {
        return (extendedFlags & column_extended_flag::CompressedUnicode) != 0;
    }
};

struct IndexColumn {
    std::uint16_t columnNumber = 0;
    bool ascending = true;
    std::uint8_t rawFlags = 0;  // 0x01 ascending
};

// Physical index flags.
namespace index_flag {
inline constexpr std::uint8_t Unique = 0x01;
inline constexpr std::uint8_t IgnoreNulls = 0x02;
inline constexpr std::uint8_t Required = 0x08;
}  // namespace index_flag

// One B-tree.
struct PhysicalIndex {
    std::uint32_t number = 0;       // position in the physical list
    std::vector<IndexColumn> columns;
    RowPointer usageMap;            // map of the pages of the tree
    PageNumber rootPage;
    std::uint8_t flags = 0;
    std::uint32_t distinctKeys = 0;  // statistic from the statistics block
    std::vector<std::uint8_t> rawStatistics;  // the statistics block as stored
    std::vector<std::uint8_t> rawDefinition;  // the definition block as stored

    bool isUnique() const { return (flags & index_flag::Unique) != 0; }
    bool ignoresNulls() const { return (flags & index_flag::IgnoreNulls) != 0; }
    bool isRequired() const { return (flags & index_flag::Required) != 0; }
};

enum class LogicalIndexKind : std::uint8_t { Normal = 0, PrimaryKey = 1, ForeignKey = 2 };

struct ForeignKeyInfo {
    std::uint8_t side = 0;              // 1 = referenced (primary) side, 2 = referencing side, 0 = none
    std::int32_t relatedIndexNumber = -1;
    PageNumber relatedTable;            // TDEF page of the other table
    std::uint8_t updateFlags = 0;       // 0x01 cascade updates
    std::uint8_t deleteFlags = 0;       // 0x01 cascade deletes, 0x02 cascade set-null
};

// What users see as an index: a name over a physical index.
struct LogicalIndex {
    std::string name;
    std::uint32_t indexNumber = 0;
    std::uint32_t physicalIndex = 0;    // position in TableDefinition::physicalIndexes
    std::uint8_t rawKind = 0;
    LogicalIndexKind kind = LogicalIndexKind::Normal;  // from rawKind (unknown values read as Normal)
    ForeignKeyInfo foreignKey;
    std::vector<std::uint8_t> rawDefinition;
};

// Usage maps of one Memo/OLE column (TDEF trailer).
struct LongValueMaps {
    std::uint16_t columnNumber = 0;
    RowPointer ownedPages;
    RowPointer freeSpacePages;  // may be null
};

struct TableDefinition {
    std::string name;
    PageNumber tdefPage;                 // first page = the table's catalog Id
    std::vector<PageNumber> tdefPages;   // the whole chain, first page included
    std::uint32_t definitionLength = 0;  // tdef_len
    std::uint32_t rowCount = 0;          // statistic
    std::uint32_t autonumber = 0;        // last Long autonumber handed out
    std::uint32_t complexAutonumber = 0; // ACE: last complex value id (Jet4: junk)
    std::uint8_t tableType = 0;          // 0x4E user, 0x53 system
    std::uint16_t maxColumns = 0;
    std::uint16_t varColumnSlots = 0;
    std::uint16_t columnCount = 0;       // num_cols
    std::uint32_t logicalIndexCount = 0;
    std::uint32_t physicalIndexCount = 0;
    RowPointer ownedPagesMap;
    RowPointer freeSpaceMap;
    std::vector<Column> columns;         // in TDEF order (not by number)
    std::vector<PhysicalIndex> physicalIndexes;
    std::vector<LogicalIndex> logicalIndexes;
    std::vector<LongValueMaps> longValueMaps;
    std::vector<std::uint8_t> rawDefinition;  // the logical definition buffer, unknown bytes included

    const Column* findColumn(std::string_view columnName) const;  // case-insensitive (ASCII)
    const Column* columnByNumber(std::uint16_t number) const;
    const LongValueMaps* longValueMapsFor(std::uint16_t columnNumber) const;
    // Columns sorted by column number: the order dumps use.
    std::vector<const Column*> columnsByNumber() const;
};

}  // namespace jet
