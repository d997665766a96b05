#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/format/database_header.h"
#include "jet/format/format_layout.h"
#include "jet/format/page_file.h"
#include "jet/table/catalog_entry.h"
#include "jet/table/property_blob.h"
#include "jet/table/salvage_item.h"
#include "jet/table/table_cursor.h"
#include "jet/table/table_definition.h"
#include "jet/table/usage_map.h"
#include "jet/table/value_decoder.h"

namespace jet {

// One row of MSysComplexColumns: a complex column and the tables behind it.
struct ComplexColumnInfo {
    std::uint32_t complexId = 0;     // = Column::complexId of the owning column
    std::string columnName;
    PageNumber conceptualTable;      // TDEF of the table that owns the column
    PageNumber flatTable;            // TDEF of the hidden f_... table with the values
    PageNumber complexTypeObject;    // TDEF of the MSysComplexType_* template
};

// A local table found through the catalog, with its definition when it parses.
struct TableEntry {
    CatalogEntry catalog;
    std::optional<TableDefinition> definition;
    std::string definitionError;  // Portuguese message when the definition could not be read

    const std::string& name() const { return catalog.name; }
    // Flagged system in the catalog (MSys* tables, the flat tables of complex columns).
    // Hidden user tables and a user table named MSys... without the flags are user tables.
    bool isSystem() const;
};

// An open database, read-only. Opening reads page 0, the catalog and every table
// definition; rows are read on demand through cursors.
class Database {
public:
    // Throws JetError: Io when the file cannot be read, NotDatabase, Unsupported,
    // Encrypted (ACE with a password), Corruption when page 0 or the catalog is damaged.
    static std::unique_ptr<Database> open(const std::string& path);
    // The same for a repair: a catalog row that does not decode is left out (and
    // listed in catalogLosses()) instead of failing the open.
    static std::unique_ptr<Database> openForSalvage(const std::string& path);

    // Catalog rows the salvage open left out.
    const std::vector<SalvageItem>& catalogLosses() const { return catalogLosses_; }

    const DatabaseHeader& header() const { return header_; }
    const FormatLayout& layout() const { return layout_; }
    PageFile& file() { return *file_; }
    std::uint32_t pageCount() const { return file_->pageCount(); }

    const TableDefinition& catalogDefinition() const { return catalogDefinition_; }
    const std::vector<CatalogEntry>& catalog() const { return catalog_; }
    // Local tables (catalog type 1), in catalog order, system tables included.
    const std::vector<TableEntry>& tables() const { return tables_; }
    // By exact name, then case-insensitively; nullptr when absent.
    const TableEntry* findTable(const std::string& name) const;

    // Rows of a table. Throws when the table's definition could not be read.
    TableCursor cursor(const TableEntry& table);
    TableCursor cursor(const TableDefinition& definition);

    // Page 1 row 0: free pages.
    UsageMap globalFreeMap();

    ValueDecoder& values() { return *values_; }

    // Complex columns (ACE), from MSysComplexColumns; empty for files without it.
    std::vector<ComplexColumnInfo> complexColumns();

    // The LvProp blob of a catalog object, decoded; nullopt when it has none.
    std::optional<PropertyBlob> properties(const CatalogEntry& entry);

private:
    Database() = default;
    static std::unique_ptr<Database> open(const std::string& path, bool salvage);
    void readCatalog(bool salvage);
    void applyCalculatedResultTypes(TableEntry& table);

    std::unique_ptr<PageFile> file_;
    DatabaseHeader header_;
    FormatLayout layout_;
    std::unique_ptr<ValueDecoder> values_;
    TableDefinition catalogDefinition_;
    std::vector<CatalogEntry> catalog_;
    std::vector<TableEntry> tables_;
    std::vector<SalvageItem> catalogLosses_;
};

}  // namespace jet
