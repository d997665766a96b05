#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "jet/format/format_layout.h"
#include "jet/format/page_number.h"
#include "jet/table/table_definition.h"

namespace jet {

// Where the blocks that hold page numbers and statistics sit in a logical
// definition buffer (offsets into TableDefinition::rawDefinition).
struct TableDefinitionBlocks {
    std::vector<std::size_t> statistics;     // one per physical index
    std::vector<std::size_t> physical;       // physical index definitions
    std::vector<std::size_t> logical;        // logical index definitions
    std::vector<std::size_t> longValueMaps;  // trailer entries
};

// Rewrites a table definition for a new file: the stored definition is kept byte
// for byte (unknown fields included) and only the fields that name pages, rows,
// statistics and the autonumber counter are replaced; then it is cut into TDEF
// pages again.
class TableDefinitionWriter {
public:
    // Locates the blocks; throws a corruption error when the buffer does not hold them.
    TableDefinitionWriter(const TableDefinition& definition, const FormatLayout& layout);

    const TableDefinitionBlocks& blocks() const { return blocks_; }
    // TDEF pages the definition needs.
    std::size_t pageCount() const;

    void setRowCount(std::uint32_t rows);
    void setAutonumber(std::uint32_t last);
    void setTableMaps(RowPointer owned, RowPointer freeSpace);
    void setIndexStatistics(std::size_t physicalIndex, std::uint32_t distinctKeys);
    void setIndexTree(std::size_t physicalIndex, RowPointer usageMap, PageNumber root);
    // Foreign-key logical indexes: the other table's TDEF page, through `mapTable`
    // (old page to new page; nullopt leaves the stored value).
    void remapRelatedTables(const std::function<std::optional<PageNumber>(PageNumber)>& mapTable);
    void setLongValueMaps(std::size_t entry, RowPointer owned, RowPointer freeSpace);
    // Makes logical index `logical` a plain index, with no other table: for a
    // foreign key whose table is gone.
    void clearForeignKey(std::size_t logical);

    // The TDEF pages, to be stored at `pages` (pageCount() of them).
    std::vector<std::vector<std::uint8_t>> pages(const std::vector<PageNumber>& pageNumbers) const;

private:
    FormatLayout layout_;
    std::vector<std::uint8_t> buffer_;  // the logical definition, tdef_len bytes
    TableDefinitionBlocks blocks_;
};

}  // namespace jet
