#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/table/database.h"
#include "jet/table/salvage_cursor.h"
#include "jet/table/salvage_item.h"

namespace jet {

// A row to copy: the slot it is listed under and where its bytes are. Rows the
// repair writes itself have a place past every page a file can have
// (kNewRowPage + their position in SalvageTable::newRows).
struct RowRecord {
    RowPointer location;
    RowPointer data;
};
inline constexpr std::uint32_t kNewRowPage = 0x01000000u;

// The long values of a row that could not be read whole, by the row's slot.
using DamagedValues = std::unordered_map<RowPointer, std::vector<DamagedLongValue>>;

// One table of the repaired file and the rows it gets.
struct SalvageTable {
    const TableDefinition* definition = nullptr;  // the file's, or `own`
    std::unique_ptr<TableDefinition> own;          // a table the repair adds
    PageNumber oldId;  // its TDEF page in the file, or an Id made up for a table the repair adds
    std::vector<RowRecord> records;  // in slot order, rows the repair writes last
    DamagedValues damaged;
    std::vector<std::vector<std::uint8_t>> newRows;
    std::int64_t autonumberMax = 0;
};

// What a repair keeps of a damaged file, decided before anything is written,
// since the catalog is copied first and must already list every table the repair
// adds. In order:
//   1. the tables the catalog names: one whose definition cannot be read is lost
//      with its catalog row (the core system tables MSysACEs, MSysQueries and
//      MSysRelationships come back empty instead); a column whose type byte
//      contradicts its stored values goes back to Text or Binary;
//   2. when catalog rows were lost, table definitions no catalog row names are
//      found by scanning the file and kept: the four core system tables under
//      their fixed names, the system tables the file relies on by name when their
//      columns say which, any other as "Tabela_Recuperada_<page>";
//   3. each table's rows through a SalvageCursor; object properties that do not
//      parse are dropped;
//   4. rows of a user table that repeat a key of one of its unique indexes (rows
//      of a duplicated page, say) move to "<table>_Recuperadas", a table of the
//      same columns without indexes; repeated catalog rows are dropped;
//   5. relationships with a table that was lost are dropped, lost containers are
//      written again;
//   6. everything left out or changed becomes a row of MSysCompactError (the
//      file's own table when it has one, else a new one);
//   7. every table added gets its catalog row, written after the image of a
//      surviving one.
struct SalvagePlan {
    std::vector<SalvageTable> tables;
    std::vector<SalvageItem> losses;
    std::size_t tablesLost = 0;
    std::size_t tablesAdded = 0;
};

SalvagePlan planSalvage(Database& db);

}  // namespace jet
