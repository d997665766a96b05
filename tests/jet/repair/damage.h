#pragma once

// Damage for copies of real database files, the way a disk or a crash damages
// them: whole pages zeroed, pages torn at a sector boundary, garbage, pages
// written at the wrong place, a file cut short. Damage is applied to the bytes
// as stored (an encoded Jet4 page stays encoded: a page copied to another place
// no longer decodes there, as it would not on a real disk).
//
// Which page to damage is chosen from what the engine's own reader finds in the
// undamaged file (`survey`): the data pages of each user table, the long-value
// pages its rows use, index pages, table definitions, usage-map pages and the
// catalog. For each row the survey also records every page the row depends on,
// so that a judge can tell which rows lie wholly outside the damage.
#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "jet/format/byte_order.h"
#include "jet/table/data_page.h"
#include "jet/table/database.h"
#include "jet/table/long_value_reader.h"
#include "jet/table/usage_map.h"
#include "jet/table/value.h"

namespace jet_test::damage {

// What a page is, as the undamaged file uses it.
enum class PageRole {
    None,               // no page (the undamaged control case)
    Header,             // page 0
    CatalogDefinition,  // the catalog's definition (page 2 and its chain)
    CatalogData,        // data pages of MSysObjects
    TableDefinition,    // definition pages of a user table
    TableData,          // data pages of a user table (owner = its definition)
    LongValue,          // long-value pages ("LVAL") holding Memo/OLE values of user rows
    Index,              // index pages (root of an index of a user table)
    UsageMap,           // pages holding the usage-map rows of user tables
};

inline const char* roleName(PageRole r) {
    switch (r) {
        case PageRole::None: return "NoDamage";
        case PageRole::Header: return "Header";
        case PageRole::CatalogDefinition: return "CatalogDefinition";
        case PageRole::CatalogData: return "CatalogData";
        case PageRole::TableDefinition: return "TableDefinition";
        case PageRole::TableData: return "TableData";
        case PageRole::LongValue: return "LongValue";
        case PageRole::Index: return "Index";
        case PageRole::UsageMap: return "UsageMap";
    }
    return "?";
}

// One value in a comparable form: the canonical text, nullopt for NULL.
using Cell = std::optional<std::string>;
using RowCells = std::vector<Cell>;

inline Cell cellOf(const jet::Value& v) {
    if (jet::isNull(v)) return std::nullopt;
    return jet::canonicalText(v);
}

// A row as one string (cells joined by a separator no canonical text holds as such).
inline std::string rowKey(const RowCells& cells) {
    std::string k;
    for (const Cell& c : cells) {
        if (c) {
            k += 'v';
            k += std::to_string(c->size());
            k += ':';
            k += *c;
        } else {
            k += 'N';
        }
        k += '|';
    }
    return k;
}

struct SourceRow {
    RowCells cells;                      // by the table's columns in number order
    std::set<std::uint32_t> pages;      // its data page, overflow target, every long-value page
    std::set<std::uint32_t> rowPages;   // its data page and overflow target only
    std::map<std::size_t, std::set<std::uint32_t>> longValuePages;  // column (as in cells) -> its value's pages
    std::uint32_t page = 0;             // where it is listed (slot page)
    int slot = 0;
};

struct SourceTable {
    std::string name;
    std::vector<std::string> columns;   // in column-number order
    std::vector<bool> longValue;        // Memo/OLE columns, same order
    std::set<std::uint32_t> definitionPages;
    std::uint32_t catalogRowPage = 0;   // page of its MSysObjects row (where its name is)
    std::vector<std::uint32_t> dataPages;   // owned pages that are its data pages, ascending
    std::vector<std::uint32_t> indexRoots;  // root pages of its indexes (index pages)
    std::set<std::uint32_t> mapPages;       // pages holding its usage-map rows
    std::vector<SourceRow> rows;
};

// What the engine's reader finds in an undamaged file.
struct Survey {
    std::string path;
    std::size_t pageSize = 4096;
    std::uint32_t pageCount = 0;
    bool jet3 = false;
    bool encoded = false;
    std::set<std::uint32_t> catalogDefinitionPages;
    std::vector<std::uint32_t> catalogDataPages;
    std::set<std::uint32_t> everyDefinitionFirstPage;  // every local table's first definition page, catalog included
    std::vector<SourceTable> tables;                   // user tables (MSysCompactError left out)
    std::size_t compactErrorTables = 0;                // user tables named MSysCompactError, not surveyed
    std::uint64_t compactErrorRows = 0;
    std::map<std::uint32_t, std::string> longValuePageTable;  // LVAL page -> a user table whose rows use it
    std::map<std::uint32_t, std::string> systemTables;        // first definition page -> name, of tables not surveyed

    const SourceTable* table(const std::string& name) const {
        for (const SourceTable& t : tables)
            if (t.name == name) return &t;
        return nullptr;
    }

    // Candidate pages of a role, ascending, with the user table they belong to ("" when none).
    std::vector<std::pair<std::uint32_t, std::string>> candidates(PageRole role) const {
        std::map<std::uint32_t, std::string> out;
        switch (role) {
            case PageRole::None: break;
            case PageRole::Header: out[0] = ""; break;
            case PageRole::CatalogDefinition:
                for (auto p : catalogDefinitionPages) out[p] = "MSysObjects";
                break;
            case PageRole::CatalogData:
                for (auto p : catalogDataPages) out[p] = "MSysObjects";
                break;
            case PageRole::TableDefinition:
                for (const auto& t : tables)
                    for (auto p : t.definitionPages) out.emplace(p, t.name);
                break;
            case PageRole::TableData:
                for (const auto& t : tables)
                    for (auto p : t.dataPages) out.emplace(p, t.name);
                break;
            case PageRole::LongValue:
                for (const auto& [p, t] : longValuePageTable) out.emplace(p, t);
                break;
            case PageRole::Index:
                for (const auto& t : tables)
                    for (auto p : t.indexRoots) out.emplace(p, t.name);
                break;
            case PageRole::UsageMap:
                for (const auto& t : tables)
                    for (auto p : t.mapPages) out.emplace(p, t.name);
                break;
        }
        return {out.begin(), out.end()};
    }
};

inline bool isCompactErrorTable(const std::string& name) {
    std::string l = name;
    for (char& c : l)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return l == "msyscompacterror";
}

// Reads the undamaged file with the engine: every user table, every row with the
// pages it depends on, and the pages of each role. Throws what the reader throws.
inline Survey survey(const std::string& path) {
    Survey s;
    s.path = path;
    auto db = jet::Database::open(path);
    jet::PageFile& file = db->file();
    s.pageSize = db->layout().pageSize;
    s.pageCount = db->pageCount();
    s.jet3 = db->layout().jet3;
    s.encoded = db->header().isEncoded();

    const jet::TableDefinition& catalog = db->catalogDefinition();
    for (auto p : catalog.tdefPages) s.catalogDefinitionPages.insert(p.value);
    s.everyDefinitionFirstPage.insert(catalog.tdefPage.value);
    std::map<jet::RowPointer, std::uint32_t> catalogRowData;  // slot -> page holding the bytes
    {
        jet::TableCursor c = db->cursor(catalog);
        std::set<std::uint32_t> pages;
        while (c.next()) {
            catalogRowData[c.location()] = c.dataLocation().page.value;
            pages.insert(c.location().page.value);
            pages.insert(c.dataLocation().page.value);
        }
        s.catalogDataPages.assign(pages.begin(), pages.end());
    }

    for (const jet::TableEntry& entry : db->tables()) {
        if (entry.definition) s.everyDefinitionFirstPage.insert(entry.definition->tdefPage.value);
        if (entry.isSystem() && entry.definition) s.systemTables[entry.definition->tdefPage.value] = entry.name();
        if (entry.isSystem() || !entry.definition) continue;
        if (isCompactErrorTable(entry.name())) {
            s.systemTables[entry.definition->tdefPage.value] = entry.name();
            ++s.compactErrorTables;
            jet::TableCursor c = db->cursor(entry);
            while (c.next()) ++s.compactErrorRows;
            continue;
        }
        const jet::TableDefinition& def = *entry.definition;
        SourceTable t;
        t.name = entry.name();
        for (auto p : def.tdefPages) t.definitionPages.insert(p.value);
        const auto found = catalogRowData.find(entry.catalog.location);
        t.catalogRowPage = found != catalogRowData.end() ? found->second : entry.catalog.location.page.value;

        const auto byNumber = def.columnsByNumber();
        std::vector<std::size_t> order;
        for (const jet::Column* col : byNumber) {
            t.columns.push_back(col->name);
            t.longValue.push_back(col->storesLongValue());
            order.push_back(static_cast<std::size_t>(col - def.columns.data()));
        }

        auto addMap = [&](jet::RowPointer where) {
            if (where.isNull()) return;
            t.mapPages.insert(where.page.value);
            try {
                const jet::UsageMap m = jet::UsageMap::read(file, db->layout(), where);
                for (auto p : m.bitmapPages())
                    if (!p.isNull()) t.mapPages.insert(p.value);
            } catch (const std::exception&) {
            }
        };
        addMap(def.ownedPagesMap);
        addMap(def.freeSpaceMap);
        for (const auto& lv : def.longValueMaps) {
            addMap(lv.ownedPages);
            addMap(lv.freeSpacePages);
        }
        for (const auto& ix : def.physicalIndexes) {
            addMap(ix.usageMap);
            const std::uint32_t root = ix.rootPage.value;
            if (root == 0 || root >= s.pageCount) continue;
            const std::uint8_t type = file.page(ix.rootPage)->bytes[0];
            if ((type == 0x03 || type == 0x04) &&
                std::find(t.indexRoots.begin(), t.indexRoots.end(), root) == t.indexRoots.end())
                t.indexRoots.push_back(root);
        }
        std::sort(t.indexRoots.begin(), t.indexRoots.end());
        // Map pages that also serve as another role (a TDEF page holding a map row
        // in its free space is not seen in this corpus) stay listed here.

        const jet::UsageMap owned = jet::UsageMap::read(file, db->layout(), def.ownedPagesMap);
        for (auto p : owned.pages()) {
            const jet::DataPage dp(file.page(p), db->layout());
            if (dp.type() == 0x01 && dp.owner() == def.tdefPage.value) t.dataPages.push_back(p.value);
        }

        jet::LongValueReader longValues(file, db->layout());
        std::vector<jet::LongValueSegment> segments;
        jet::TableCursor c = db->cursor(entry);
        std::vector<jet::Value> values;
        while (c.next()) {
            SourceRow row;
            row.page = c.location().page.value;
            row.slot = c.location().row;
            row.rowPages.insert(c.location().page.value);
            row.rowPages.insert(c.dataLocation().page.value);
            row.pages = row.rowPages;
            c.values(values);
            const jet::RowFields& fields = c.fields();
            for (std::size_t k = 0; k < order.size(); ++k) {
                const std::size_t i = order[k];
                row.cells.push_back(cellOf(values[i]));
                const jet::FieldBytes& f = fields.fields[i];
                if (!t.longValue[k] || !f.present) continue;
                segments.clear();
                longValues.read(f.bytes, jet::ErrorLocation{.table = t.name}, &segments);
                for (const auto& seg : segments) {
                    row.pages.insert(seg.row.page.value);
                    row.longValuePages[k].insert(seg.row.page.value);
                    s.longValuePageTable.emplace(seg.row.page.value, t.name);
                }
            }
            t.rows.push_back(std::move(row));
        }
        s.tables.push_back(std::move(t));
    }
    return s;
}

// How a page is damaged.
enum class Kind {
    None,            // nothing changed
    Zeroed,          // the whole page is zeros
    TornAt512Zeros,  // the page from byte 512 on is zeros (a write cut after one sector)
    TornAt2KZeros,   // the page from byte 2048 on is zeros (4 KiB pages only)
    TornAt512Other,  // the page from byte 512 on holds the bytes of another page
    TornAt2KOther,   // the page from byte 2048 on holds the bytes of another page
    RandomBytes,     // the whole page is random bytes
    OtherPageCopied, // the page holds the bytes of a page of another kind (a misdirected write)
    Duplicated,      // the page holds the bytes of a sibling page of the same table
    Truncated,       // the file ends where the page starts
};

inline const char* kindName(Kind k) {
    switch (k) {
        case Kind::None: return "Untouched";
        case Kind::Zeroed: return "Zeroed";
        case Kind::TornAt512Zeros: return "TornAt512Zeros";
        case Kind::TornAt2KZeros: return "TornAt2KZeros";
        case Kind::TornAt512Other: return "TornAt512Other";
        case Kind::TornAt2KOther: return "TornAt2KOther";
        case Kind::RandomBytes: return "RandomBytes";
        case Kind::OtherPageCopied: return "OtherPageCopied";
        case Kind::Duplicated: return "Duplicated";
        case Kind::Truncated: return "Truncated";
    }
    return "?";
}

inline bool needsOtherPage(Kind k) {
    return k == Kind::TornAt512Other || k == Kind::TornAt2KOther || k == Kind::OtherPageCopied ||
           k == Kind::Duplicated;
}

// A damaged image of a file and the pages whose bytes may no longer be what they were.
struct Damaged {
    std::vector<std::uint8_t> bytes;
    std::set<std::uint32_t> pages;
};

// Applies `kind` to page `page` of `original` (pages of `pageSize` bytes); `other`
// is the page whose bytes are copied for the kinds that copy; `seed` drives the
// random bytes. Writes go through the byte-order helpers, one byte at a time.
inline Damaged apply(const std::vector<std::uint8_t>& original, std::size_t pageSize, Kind kind, std::uint32_t page,
                     std::uint32_t other = 0, std::uint32_t seed = 1) {
    Damaged d{original, {}};
    if (kind == Kind::None) return d;
    const std::size_t pages = original.size() / pageSize;
    if (page >= pages) throw std::invalid_argument("damage past the end of the file");
    jet::bytes::MutableSpan out(d.bytes);
    const jet::bytes::Span in(original);
    const std::size_t start = std::size_t{page} * pageSize;
    auto copyFrom = [&](std::size_t from) {
        if (other >= pages || other == page) throw std::invalid_argument("no other page to copy from");
        const std::size_t src = std::size_t{other} * pageSize;
        for (std::size_t i = from; i < pageSize; ++i) jet::bytes::putU8(out, start + i, jet::bytes::u8(in, src + i));
    };
    auto zeroFrom = [&](std::size_t from) {
        for (std::size_t i = from; i < pageSize; ++i) jet::bytes::putU8(out, start + i, 0);
    };
    switch (kind) {
        case Kind::None: break;
        case Kind::Zeroed: zeroFrom(0); break;
        case Kind::TornAt512Zeros: zeroFrom(512); break;
        case Kind::TornAt2KZeros:
            if (pageSize <= 2048) throw std::invalid_argument("a 2 KiB tear needs pages larger than 2 KiB");
            zeroFrom(2048);
            break;
        case Kind::TornAt512Other: copyFrom(512); break;
        case Kind::TornAt2KOther:
            if (pageSize <= 2048) throw std::invalid_argument("a 2 KiB tear needs pages larger than 2 KiB");
            copyFrom(2048);
            break;
        case Kind::RandomBytes: {
            std::mt19937 random(seed);
            for (std::size_t i = 0; i < pageSize; ++i)
                jet::bytes::putU8(out, start + i, static_cast<std::uint8_t>(random() & 0xFF));
            break;
        }
        case Kind::OtherPageCopied:
        case Kind::Duplicated: copyFrom(0); break;
        case Kind::Truncated:
            d.bytes.resize(start);
            for (std::size_t p = page; p < pages; ++p) d.pages.insert(static_cast<std::uint32_t>(p));
            return d;
    }
    d.pages.insert(page);
    return d;
}

}  // namespace jet_test::damage
