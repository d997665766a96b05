#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jet {

// One thing a repair could not keep as it was.
struct RepairItem {
    enum class Kind {
        RowDropped,      // a row whose bytes do not decode; it is not in the repaired file
        ValueCut,        // a Memo value kept up to where its chain broke
        ValueNulled,     // a long value that could not be read whole became NULL
        TableLost,       // a table whose definition cannot be read; its rows are gone
        TableRenamed,    // a table kept under a made-up name (its catalog row was lost)
        RowsSetAside,    // rows kept in a "..._Recuperadas" table (duplicate unique key)
        CatalogRowLost,  // an object's catalog row did not decode (a query, a form, ...)
    };
    Kind kind = Kind::RowDropped;
    std::string table;                 // the table's name as the user knows it
    std::optional<std::uint32_t> page;  // where in the damaged file
    std::optional<std::uint16_t> row;
    std::string column;                // for values
    std::uint64_t count = 1;           // rows it stands for (TableLost, RowsSetAside)
    std::string description;          // Portuguese, one sentence, no location
};

// What a repair did. A sound file gives an empty report.
struct RepairReport {
    std::vector<RepairItem> items;
    bool rewritten = false;  // the file was written anew (not only patched in place)

    std::uint64_t rowsDropped() const;
    std::uint64_t valuesChanged() const;
    std::size_t tablesAffected() const;
    bool lostOrChangedData() const { return !items.empty(); }
};

}  // namespace jet
