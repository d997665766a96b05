#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace jet {

// One thing a salvage of a damaged file could not keep as it was.
struct SalvageItem {
    enum class Kind {
        RowDropped,      // a row whose bytes do not decode; it is not in the repaired file
        ValueCut,        // a Memo value kept up to where its chain broke
        ValueNulled,     // a long value that could not be read whole became NULL
        TableLost,       // a table whose definition cannot be read; its rows are gone
        TableRenamed,    // a table kept under a made-up name (its catalog row was lost)
        RowsSetAside,    // rows kept in a "..._Recuperadas" table (duplicate unique key)
        CatalogRowLost,  // an object's catalog row did not decode (a query, a form, ...)
        PageLost,        // a page the table's map lists is not one of its data pages any more
        RelationDropped, // a relationship with a table that was lost
        ColumnRetyped,   // a column whose stored type contradicts its values, kept as the values read
    };
    Kind kind = Kind::RowDropped;
    std::string table;                 // the table's name as the user knows it
    std::optional<std::uint32_t> page;  // where in the damaged file
    std::optional<std::uint16_t> row;
    std::string column;                // for values
    std::uint64_t count = 1;           // rows it stands for (0 when unknown)
    std::uint32_t pages = 0;           // TableLost: the data pages that held its rows
    std::string description;          // Portuguese, one sentence, no location

    // "página 12, linha 3, coluna Notas" (the parts known), for messages.
    std::string where() const;
};

}  // namespace jet
