#pragma once

#include <cstdint>
#include <string>

#include "jet/format/format_layout.h"
#include "jet/format/page_file.h"
#include "jet/table/table_definition.h"

namespace jet {

// Reads and parses a table definition: the chain of TDEF pages starting at
// `firstPage`, joined into the logical buffer, then every block of it.
// Throws a corruption error naming the table and page when the definition is damaged.
TableDefinition readTableDefinition(PageFile& file, const FormatLayout& layout, PageNumber firstPage,
                                    std::uint16_t codePage, const std::string& tableName);

// Parses a logical definition buffer already assembled (used by the reader above
// and by tests on hand-made definitions).
TableDefinition parseTableDefinition(std::vector<std::uint8_t> buffer, const FormatLayout& layout,
                                     std::uint16_t codePage, const std::string& tableName);

}  // namespace jet
