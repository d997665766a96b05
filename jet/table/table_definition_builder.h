#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/format/format_layout.h"
#include "jet/table/table_definition.h"

namespace jet {

// A column of a table made anew.
struct NewColumn {
    std::string name;
    std::uint8_t type = 0;
    std::uint16_t length = 0;  // Text: characters; Binary: bytes; ignored for other types
};

// The definition of a new table with `columns` (numbered in order, every one kept
// in the variable area, as Access lays out the tables its own compaction adds), no
// index and no rows, in the file's format; Text columns take the collation and
// sort order of `textLike` when given. Its pages, maps and statistics are set by
// TableDefinitionWriter like any other table's.
TableDefinition newTableDefinition(const std::string& name, std::span<const NewColumn> columns,
                                   const FormatLayout& layout, std::uint16_t codePage,
                                   const Column* textLike = nullptr);

// A table of the same columns as `source`, their blocks kept as stored (so that
// rows of `source` read the same in it), named `name`, without any index.
TableDefinition definitionWithoutIndexes(const TableDefinition& source, const std::string& name,
                                         const FormatLayout& layout, std::uint16_t codePage);

}  // namespace jet
