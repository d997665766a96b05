#include "jet/compact/salvage_plan.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <string_view>

#include "jet/format/byte_order.h"
#include "jet/format/bulk_memory.h"
#include "jet/index/index_page.h"
#include "jet/index/key_encoder.h"
#include "jet/table/column_type.h"
#include "jet/table/data_page.h"
#include "jet/table/property_blob.h"
#include "jet/table/row_decoder.h"
#include "jet/table/row_encoder.h"
#include "jet/table/table_definition_builder.h"
#include "jet/table/table_definition_reader.h"
#include "jet/table/usage_map.h"
#include "jet/table/value_encoder.h"

namespace jet {

namespace {

constexpr std::string_view kFixedTables[] = {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"};
constexpr std::string_view kErrorTable = "MSysCompactError";
// Ids of the tables the repair adds until they get their pages: below the range
// the compactor moves dangling Ids to, above any page a file can have.
constexpr std::uint32_t kAddedIdBase = 0x00E00000u;
// Jet's numbers for "the database is damaged" and "duplicate values in an index".
constexpr std::int32_t kDamagedCode = 3049;
constexpr std::int32_t kDuplicateCode = 3022;
constexpr std::uint32_t kSystemObjectFlags = 0x80000002u;
constexpr std::uint8_t kSystemTable = 0x53;
constexpr std::int32_t kRootContainerId = 0x0F000000;


// At most `limit` characters of UTF-8 text, cut between characters.
std::string firstCharacters(const std::string& text, std::size_t limit) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars++ == limit) return text.substr(0, i);
    }
    return text;
}

// The columns of the core system tables after the catalog, in column-number order,
// as every file seen has them; none for another table.
std::vector<NewColumn> coreSystemColumns(const std::string& table, const FormatLayout& layout) {
    const auto binary = static_cast<std::uint16_t>(layout.jet3 ? 255 : 510);
    if (sameObjectName(table, "MSysACEs"))
        return {{"ObjectId", column_type::Long, 0},
                {"SID", column_type::Binary, binary},
                {"ACM", column_type::Long, 0},
                {"FInheritable", column_type::Boolean, 0}};
    if (sameObjectName(table, "MSysQueries")) {
        std::vector<NewColumn> c = {{"ObjectId", column_type::Long, 0},   {"Attribute", column_type::Byte, 0},
                                    {"Order", column_type::Binary, binary}, {"Name1", column_type::Text, 255},
                                    {"Name2", column_type::Text, 255},      {"Expression", column_type::Memo, 0},
                                    {"Flag", column_type::Integer, 0}};
        if (!layout.jet3) c.push_back({"LvExtra", column_type::Long, 0});
        return c;
    }
    if (sameObjectName(table, "MSysRelationships"))
        return {{"szRelationship", column_type::Text, 255}, {"grbit", column_type::Long, 0},
                {"ccolumn", column_type::Long, 0},          {"icolumn", column_type::Long, 0},
                {"szObject", column_type::Text, 255},       {"szColumn", column_type::Text, 255},
                {"szReferencedObject", column_type::Text, 255}, {"szReferencedColumn", column_type::Text, 255}};
    return {};
}

// The system tables whose names the rest of the file relies on (the complex
// columns' list, the navigation pane's tables, whose rows hold table Ids), by the
// names of their columns, which no other table has all of.
std::string systemTableByColumns(const TableDefinition& def) {
    struct Known {
        const char* name;
        std::vector<const char*> columns;
    };
    static const Known known[] = {
        {"MSysComplexColumns", {"ColumnName", "ComplexID", "ComplexTypeObjectID", "ConceptualTableID", "FlatTableID"}},
        {"MSysNavPaneGroupToObjects", {"Flags", "GroupID", "Icon", "Id", "Name", "ObjectID", "Position"}},
        {"MSysNavPaneGroups", {"Flags", "GroupCategoryID", "Id", "Name", "Object Type Group", "ObjectID", "Position"}},
        {"MSysNavPaneGroupCategories", {"Filter", "Flags", "Id", "Name", "Position", "SelectedObjectID", "Type"}},
        {"MSysNavPaneObjectIDs", {"Id", "Name", "Type"}},
        {"MSysResources", {"Data", "Extension", "Id", "Name", "Type"}},
    };
    for (const Known& k : known) {
        if (k.columns.size() != def.columns.size()) continue;
        if (std::all_of(k.columns.begin(), k.columns.end(), [&](const char* c) { return def.findColumn(c) != nullptr; }))
            return k.name;
    }
    return {};
}

// Sets `column` of a row of `def` being built, when the table has that column.
void setColumn(const TableDefinition& def, std::vector<Value>& values, const char* column, Value v) {
    if (const Column* c = def.findColumn(column)) values[static_cast<std::size_t>(c - def.columns.data())] = std::move(v);
}

class Planner {
public:
    explicit Planner(Database& db) : db_(db), layout_(db.layout()) {}
    SalvagePlan run();

private:
    void listTables();
    void loseTable(const TableEntry& entry);
    void recoverUnnamedTables();
    void gather(SalvageTable& t);
    void setAsideDuplicates(std::size_t table);
    void recordLosses();
    void reportBrokenRelations();
    void mendColumnTypes(SalvageTable& t);
    void dropUnreadableProperties(SalvageTable& catalog);
    void addCatalogRow(PageNumber id, const std::string& name, bool system);
    void addContainerRow(std::int32_t id, const std::string& name, std::uint32_t flags);
    void encodeCatalogRow(std::vector<Value>& values, std::int32_t id, const std::string& name, std::int16_t type);
    void addMissingContainers();
    void dropBrokenRelationships();
    std::span<const std::uint8_t> rowBytes(RowPointer p);
    SalvageTable* catalog();
    bool nameTaken(const std::string& name) const {
        return std::any_of(plan_.tables.begin(), plan_.tables.end(),
                           [&](const SalvageTable& t) { return sameObjectName(t.definition->name, name); });
    }
    PageNumber nextAddedId() { return PageNumber(kAddedIdBase + static_cast<std::uint32_t>(plan_.tablesAdded++)); }
    void addRow(SalvageTable& t, std::vector<std::uint8_t> row);

    Database& db_;
    FormatLayout layout_;
    SalvagePlan plan_;
    std::unordered_set<RowPointer> droppedCatalogRows_;
    std::vector<std::tuple<std::size_t, std::string, bool>> needCatalogRows_;  // table, name, system
    std::optional<DataPage> lastPage_;
};

SalvageTable* Planner::catalog() {
    for (SalvageTable& t : plan_.tables)
        if (t.oldId == PageNumber(2)) return &t;
    return nullptr;
}

std::span<const std::uint8_t> Planner::rowBytes(RowPointer p) {
    if (!lastPage_ || lastPage_->number() != p.page) lastPage_.emplace(db_.file().page(p.page), layout_);
    return lastPage_->row(p.row);
}

void Planner::addRow(SalvageTable& t, std::vector<std::uint8_t> row) {
    const RowPointer place(PageNumber(kNewRowPage + static_cast<std::uint32_t>(t.newRows.size())), 0);
    t.newRows.push_back(std::move(row));
    t.records.push_back(RowRecord{place, place});
}

// A table whose definition cannot be read is left out with its catalog row; what
// it held is counted from the data pages that still name it as their owner.
void Planner::loseTable(const TableEntry& entry) {
    const PageNumber id(static_cast<std::uint32_t>(entry.catalog.id) & 0x00FFFFFFu);
    SalvageItem item;
    item.kind = SalvageItem::Kind::TableLost;
    item.table = entry.name();
    item.page = id.value;
    item.count = 0;
    for (std::uint32_t n = 3; n < db_.pageCount(); ++n) {
        try {
            PageRef ref = db_.file().page(PageNumber(n));
            if (ref->bytes[0] != 0x01 || bytes::u32le(ref->span(), layout_.dataOwner) != id.value) continue;
            const DataPage page(ref, layout_);
            ++item.pages;
            for (std::uint16_t r = 0; r < page.rowCount(); ++r)
                if (!page.isDeleted(r)) ++item.count;
        } catch (const JetError&) {
            // An unreadable page adds nothing to count.
        }
    }
    item.description = "a definição da tabela não pôde ser lida (" + entry.definitionError + "); " +
                       std::to_string(item.count) + " linhas em " + std::to_string(item.pages) +
                       " páginas de dados se perderam";
    // The core system tables every file has come back empty, under their catalog rows.
    const std::vector<NewColumn> columns = coreSystemColumns(entry.name(), layout_);
    if (!columns.empty() && id.value >= 3 && id.value <= 5) {
        item.description += "; a tabela foi escrita de novo, vazia";
        plan_.losses.push_back(std::move(item));
        SalvageTable t;
        t.own = std::make_unique<TableDefinition>(newTableDefinition(entry.name(), columns, layout_,
                                                                     db_.header().codePage,
                                                                     db_.catalogDefinition().findColumn("Name")));
        t.own->tableType = kSystemTable;
        t.own->rawDefinition.at(layout_.tdefTableType) = kSystemTable;
        t.own->tdefPage = id;
        t.definition = t.own.get();
        t.oldId = id;
        plan_.tables.push_back(std::move(t));
        return;
    }
    plan_.losses.push_back(std::move(item));
    droppedCatalogRows_.insert(entry.catalog.location);
    ++plan_.tablesLost;
}

void Planner::listTables() {
    std::unordered_set<std::uint32_t> seen;
    for (const TableEntry& entry : db_.tables()) {
        if (!entry.definition) {
            loseTable(entry);
            continue;
        }
        if (!seen.insert(entry.definition->tdefPage.value).second) {
            // Two catalog rows for one definition: the first names it.
            SalvageItem item;
            item.kind = SalvageItem::Kind::CatalogRowLost;
            item.table = entry.name();
            item.page = entry.catalog.location.page.value;
            item.row = entry.catalog.location.row;
            item.description = "a linha do catálogo repete uma tabela já listada e foi descartada";
            plan_.losses.push_back(std::move(item));
            droppedCatalogRows_.insert(entry.catalog.location);
            continue;
        }
        SalvageTable t;
        t.definition = &*entry.definition;
        t.oldId = entry.definition->tdefPage;
        mendColumnTypes(t);
        plan_.tables.push_back(std::move(t));
    }
}

// A damaged type byte can turn a variable column (Text, Binary) into one of a
// fixed-size type while its values keep their own lengths: every row would then
// be read wrong. Where the stored values of such a column do not have the type's
// size, the values win: the column goes back to Text (it has a collation) or
// Binary, and the report says so.
void Planner::mendColumnTypes(SalvageTable& t) {
    const TableDefinition& def = *t.definition;
    std::vector<std::size_t> suspects;
    for (std::size_t c = 0; c < def.columns.size(); ++c) {
        const Column& col = def.columns[c];
        const std::size_t size = fixedSizeOf(col.type);
        if (size != 0 && col.type != column_type::Binary3992 && col.type != column_type::ExtendedDateTime &&
            !col.isFixed() && !col.isCalculated() && col.length != size)
            suspects.push_back(c);
    }
    if (suspects.empty()) return;
    std::vector<bool> contradicted(def.columns.size(), false);
    const RowDecoder decoder(def, layout_);
    RowFields fields;
    for (PageNumber p : findSalvagePages(db_.file(), layout_, def).pages) {
        try {
            const DataPage page(db_.file().page(p), layout_);
            if (page.type() != 0x01 || page.owner() != def.tdefPage.value) continue;
            for (std::uint16_t r = 0; r < page.rowCount(); ++r) {
                if (page.isDeleted(r) || page.isOverflow(r)) continue;
                try {
                    decoder.split(page.row(r), fields, ErrorLocation{.page = p.value, .row = r, .table = def.name});
                } catch (const JetError&) {
                    continue;
                }
                for (std::size_t c : suspects) {
                    const FieldBytes& f = fields.fields[c];
                    if (f.present && f.bytes.size() != fixedSizeOf(def.columns[c].type)) contradicted[c] = true;
                }
            }
        } catch (const JetError&) {
            // A page that does not read says nothing about the column.
        }
    }
    if (std::none_of(contradicted.begin(), contradicted.end(), [](bool b) { return b; })) return;
    t.own = std::make_unique<TableDefinition>(def);
    t.definition = t.own.get();
    const std::size_t blocks = layout_.tdefHeaderEnd + def.physicalIndexCount * layout_.indexStatisticsSize;
    for (std::size_t c : suspects) {
        if (!contradicted[c]) continue;
        Column& col = t.own->columns[c];
        const std::uint8_t was = col.type;
        // Jet4+ keeps a collation only in text columns' blocks; Jet3 in every block.
        const bool text = !layout_.jet3 ? bytes::u16le(col.rawBlock, 11) != 0 : true;
        col.type = text ? column_type::Text : column_type::Binary;
        if (text && !layout_.jet3) col.collation = bytes::u16le(col.rawBlock, 11);
        col.rawBlock[0] = col.type;
        t.own->rawDefinition.at(blocks + col.blockIndex * layout_.columnBlockSize) = col.type;
        SalvageItem item;
        item.kind = SalvageItem::Kind::ColumnRetyped;
        item.table = def.name;
        item.page = def.tdefPage.value;
        item.column = col.name;
        item.count = 0;
        item.description = "a definição dava à coluna o tipo " + columnTypeName(was) +
                           ", mas os valores guardados não têm o tamanho desse tipo; a coluna foi mantida como " +
                           columnTypeName(col.type);
        plan_.losses.push_back(std::move(item));
    }
}

// Catalog rows were lost: definitions no catalog row names are found by their
// pages (a definition's first page is a type 2 page no other definition page
// continues into) and kept.
void Planner::recoverUnnamedTables() {
    std::unordered_set<std::uint32_t> known;
    for (const SalvageTable& t : plan_.tables) known.insert(t.oldId.value);
    for (const SalvageItem& item : plan_.losses)
        if (item.kind == SalvageItem::Kind::TableLost && item.page) known.insert(*item.page);
    // A page another object's Id names (a linked table, say) holds no table of
    // this file: a definition left there is a deleted table's.
    for (const CatalogEntry& e : db_.catalog())
        if (e.id > 0) known.insert(static_cast<std::uint32_t>(e.id));
    std::optional<UsageMap> freePages;
    try {
        freePages = UsageMap::read(db_.file(), layout_, RowPointer(PageNumber(1), 0));
    } catch (const JetError&) {
        // Without the global map no page is known to be free.
    }
    std::vector<std::uint32_t> firstPages;
    std::unordered_set<std::uint32_t> continued;
    for (std::uint32_t n = 2; n < db_.pageCount(); ++n) {
        try {
            PageRef ref = db_.file().page(PageNumber(n));
            if (ref->bytes[0] != 0x02) continue;
            continued.insert(bytes::u32le(ref->span(), 4));
            if (!known.count(n) && !(freePages && freePages->contains(PageNumber(n)))) firstPages.push_back(n);
        } catch (const JetError&) {
        }
    }
    for (std::uint32_t n : firstPages) {
        if (continued.count(n)) continue;
        SalvageTable t;
        std::string name = "Tabela_Recuperada_" + std::to_string(n);
        try {
            t.own = std::make_unique<TableDefinition>(
                n == 2 ? db_.catalogDefinition()
                       : readTableDefinition(db_.file(), layout_, PageNumber(n), db_.header().codePage, name));
        } catch (const JetError&) {
            continue;  // not a definition that can be read: nothing to keep
        }
        const bool system = n >= 2 && n - 2 < std::size(kFixedTables) && t.own->tableType == 0x53;
        if (system) name = std::string(kFixedTables[n - 2]);
        const std::string known = systemTableByColumns(*t.own);
        const bool recognised = !system && !known.empty() && !nameTaken(known);
        if (recognised) name = known;
        t.own->name = name;
        t.definition = t.own.get();
        t.oldId = PageNumber(n);
        if (recognised) {
            SalvageItem item;
            item.kind = SalvageItem::Kind::TableRenamed;
            item.table = name;
            item.page = n;
            item.count = 0;
            item.description = "a linha do catálogo desta tabela se perdeu; pelas colunas, ela é a tabela de sistema " +
                               name + ", e foi mantida com esse nome";
            plan_.losses.push_back(std::move(item));
        } else if (!system) {
            SalvageItem item;
            item.kind = SalvageItem::Kind::TableRenamed;
            item.table = name;
            item.page = n;
            item.count = 0;
            item.description = "a linha do catálogo com o nome desta tabela se perdeu; ela foi mantida como " + name;
            plan_.losses.push_back(std::move(item));
        }
        needCatalogRows_.emplace_back(plan_.tables.size(), name, system || recognised);
        plan_.tables.push_back(std::move(t));
    }
}

void Planner::gather(SalvageTable& t) {
    const TableDefinition& def = *t.definition;
    if (def.ownedPagesMap.page.isNull()) return;  // a table written here anew: its rows went with its definition
    std::optional<std::size_t> autonumberColumn;
    for (std::size_t c = 0; c < def.columns.size(); ++c)
        if (def.columns[c].isAutonumber() && def.columns[c].type == column_type::Long) autonumberColumn = c;
    SalvageCursor cursor = SalvageCursor::overTable(db_.file(), layout_, db_.values(), def);
    const bool isCatalog = t.oldId == PageNumber(2);
    while (cursor.next()) {
        if (isCatalog && droppedCatalogRows_.count(cursor.location())) continue;
        t.records.push_back(RowRecord{cursor.location(), cursor.dataLocation()});
        if (!cursor.damagedValues().empty()) t.damaged[cursor.location()] = cursor.damagedValues();
        if (autonumberColumn) {
            const FieldBytes& f = cursor.fields().fields[*autonumberColumn];
            if (f.present && f.bytes.size() == 4)
                t.autonumberMax = std::max<std::int64_t>(t.autonumberMax, bytes::i32le(f.bytes, 0));
        }
    }
    for (SalvageItem item : cursor.losses()) {
        if (isCatalog && item.kind == SalvageItem::Kind::RowDropped) item.kind = SalvageItem::Kind::CatalogRowLost;
        plan_.losses.push_back(std::move(item));
    }
}

// An object's properties (the catalog's LvProp) whose long value reads but does not
// parse, its pages torn say, would make the repaired file fail its check: they are
// dropped, the object kept.
void Planner::dropUnreadableProperties(SalvageTable& cat) {
    const TableDefinition& def = *cat.definition;
    const Column* lvProp = def.findColumn("LvProp");
    const Column* nameColumn = def.findColumn("Name");
    if (!lvProp) return;
    const auto column = static_cast<std::size_t>(lvProp - def.columns.data());
    const RowDecoder decoder(def, layout_);
    RowFields fields;
    for (const RowRecord& r : cat.records) {
        if (r.location.page.value >= kNewRowPage) continue;
        auto& hurt = cat.damaged[r.location];
        const bool already = std::any_of(hurt.begin(), hurt.end(), [&](const DamagedLongValue& d) { return d.column == column; });
        if (already) continue;
        const ErrorLocation at{.page = r.data.page.value, .row = r.data.row, .table = def.name};
        std::string object;
        try {
            decoder.split(rowBytes(r.data), fields, at);
            if (nameColumn) {
                const Value n = db_.values().decode(*nameColumn, fields.fields[static_cast<std::size_t>(nameColumn - def.columns.data())], at);
                if (const auto* s = std::get_if<std::string>(&n)) object = *s;
            }
            const Value v = db_.values().decode(*lvProp, fields.fields[column], at);
            if (const auto* blob = std::get_if<Bytes>(&v); blob && !blob->empty())
                (void)PropertyBlob::parse(*blob, layout_.jet3, db_.values());
            if (hurt.empty()) cat.damaged.erase(r.location);
            continue;
        } catch (const JetError&) {
        }
        hurt.push_back(DamagedLongValue{column, true, {}});
        SalvageItem item;
        item.kind = SalvageItem::Kind::ValueNulled;
        item.table = def.name;
        item.page = r.data.page.value;
        item.row = r.data.row;
        item.column = lvProp->name;
        item.description = "as propriedades do objeto " + object + " não puderam ser lidas e foram descartadas";
        plan_.losses.push_back(std::move(item));
    }
}

// Rows that repeat, in full, the key of an earlier row in a unique index cannot go
// back under it: they move to a table of the same columns without indexes.
void Planner::setAsideDuplicates(std::size_t table) {
    SalvageTable& t = plan_.tables[table];
    const TableDefinition& def = *t.definition;
    const bool isCatalog = t.oldId == PageNumber(2);
    if (t.records.size() < 2 || (sameObjectName(def.name.substr(0, 4), "MSys") && !isCatalog)) return;
    std::vector<bool> aside(t.records.size(), false);
    const RowDecoder decoder(def, layout_);
    RowFields fields;
    for (const PhysicalIndex& index : def.physicalIndexes) {
        if (!index.isUnique()) continue;
        const KeyEncoder encoder(def, index, db_.header().version);
        std::vector<std::size_t> positions;
        for (const IndexColumn& ic : index.columns)
            if (const Column* c = def.columnByNumber(ic.columnNumber))
                positions.push_back(static_cast<std::size_t>(c - def.columns.data()));
        ByteArena keys;
        std::vector<std::tuple<std::size_t, std::size_t, std::size_t>> entries;  // offset, length, record
        std::vector<Value> values(positions.size());
        for (std::size_t r = 0; r < t.records.size(); ++r) {
            if (aside[r]) continue;
            const ErrorLocation at{.page = t.records[r].data.page.value, .row = t.records[r].data.row, .table = def.name};
            decoder.split(rowBytes(t.records[r].data), fields, at);
            bool anyNull = false;
            for (std::size_t i = 0; i < positions.size(); ++i) {
                values[i] = db_.values().decode(def.columns[positions[i]], fields.fields[positions[i]], at);
                anyNull = anyNull || isNull(values[i]);
            }
            if (anyNull) continue;  // a unique index holds any number of rows with a NULL in its key
            const std::size_t start = keys.size();
            if (encoder.appendKey(values, keys)) continue;  // no key to compare
            entries.emplace_back(start, keys.size() - start, r);
        }
        const auto key = [&keys](const auto& e) {
            return std::span<const std::uint8_t>(keys).subspan(std::get<0>(e), std::get<1>(e));
        };
        std::sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
            const int c = compareKeyBytes(key(a), key(b));
            return c != 0 ? c < 0 : std::get<2>(a) < std::get<2>(b);
        });
        for (std::size_t e = 1; e < entries.size(); ++e)
            if (compareKeyBytes(key(entries[e - 1]), key(entries[e])) == 0) aside[std::get<2>(entries[e])] = true;
    }
    const std::size_t count = static_cast<std::size_t>(std::count(aside.begin(), aside.end(), true));
    if (count == 0) return;
    if (isCatalog) {
        // A catalog row that repeats another's Id or name names nothing new: the
        // first one stays.
        std::vector<RowRecord> kept;
        for (std::size_t r = 0; r < t.records.size(); ++r) {
            if (!aside[r]) {
                kept.push_back(t.records[r]);
                continue;
            }
            SalvageItem item;
            item.kind = SalvageItem::Kind::CatalogRowLost;
            item.table = def.name;
            item.page = t.records[r].data.page.value;
            item.row = t.records[r].data.row;
            item.description = "a linha do catálogo repete o Id ou o nome de outra e foi descartada";
            plan_.losses.push_back(std::move(item));
            t.damaged.erase(t.records[r].location);
        }
        t.records = std::move(kept);
        return;
    }

    std::string name = def.name + "_Recuperadas";
    for (int i = 2; std::any_of(plan_.tables.begin(), plan_.tables.end(),
                                [&](const SalvageTable& other) { return sameObjectName(other.definition->name, name); });
         ++i)
        name = def.name + "_Recuperadas" + std::to_string(i);
    SalvageTable moved;
    moved.own = std::make_unique<TableDefinition>(definitionWithoutIndexes(def, name, layout_, db_.header().codePage));
    moved.definition = moved.own.get();
    moved.oldId = nextAddedId();
    moved.autonumberMax = t.autonumberMax;  // the counter stays above every value of both tables
    std::vector<RowRecord> kept;
    for (std::size_t r = 0; r < t.records.size(); ++r) {
        if (!aside[r]) {
            kept.push_back(t.records[r]);
            continue;
        }
        moved.records.push_back(t.records[r]);
        if (auto d = t.damaged.find(t.records[r].location); d != t.damaged.end()) {
            moved.damaged.insert(*d);
            t.damaged.erase(d);
        }
    }
    t.records = std::move(kept);
    SalvageItem item;
    item.kind = SalvageItem::Kind::RowsSetAside;
    item.table = def.name;
    item.count = count;
    item.description = std::to_string(count) + " linhas repetiam a chave de um índice único e foram guardadas na tabela " +
                       name;
    plan_.losses.push_back(std::move(item));
    needCatalogRows_.emplace_back(plan_.tables.size(), name, false);
    plan_.tables.push_back(std::move(moved));
}

// One row of MSysCompactError for each item, in the file's own table of that name
// when it has one with the usual columns, else in a new one.
void Planner::recordLosses() {
    if (plan_.losses.empty()) return;
    SalvageTable* target = nullptr;
    for (SalvageTable& t : plan_.tables)
        if (sameObjectName(t.definition->name, kErrorTable)) target = &t;
    const auto hasColumns = [](const TableDefinition& d) {
        return d.findColumn("ErrorCode") && d.findColumn("ErrorDescription") && d.findColumn("ErrorTable") &&
               d.findColumn("ErrorRecid");
    };
    if (target && !hasColumns(*target->definition)) return;  // a table of that name that is not the log
    if (!target) {
        const NewColumn columns[] = {{"ErrorCode", column_type::Long, 0},
                                     {"ErrorDescription", column_type::Memo, 0},
                                     {"ErrorTable", column_type::Text, 255},
                                     {"ErrorRecid", column_type::Binary, static_cast<std::uint16_t>(layout_.jet3 ? 255 : 510)}};
        SalvageTable t;
        t.own = std::make_unique<TableDefinition>(newTableDefinition(std::string(kErrorTable), columns, layout_,
                                                                     db_.header().codePage,
                                                                     db_.catalogDefinition().findColumn("Name")));
        t.definition = t.own.get();
        t.oldId = nextAddedId();
        needCatalogRows_.emplace_back(plan_.tables.size(), std::string(kErrorTable), false);
        plan_.tables.push_back(std::move(t));
        target = &plan_.tables.back();
    }
    const TableDefinition& def = *target->definition;
    const ValueEncoder values(layout_, db_.header().codePage);
    const RowEncoder rows(def, layout_);
    EncodedFields fields;
    std::vector<Value> row(def.columns.size());
    for (const SalvageItem& item : plan_.losses) {
        std::fill(row.begin(), row.end(), Value{});
        const auto set = [&](const char* column, Value v) { setColumn(def, row, column, std::move(v)); };
        set("ErrorCode", item.kind == SalvageItem::Kind::RowsSetAside ? kDuplicateCode : kDamagedCode);
        const std::string where = item.where();
        set("ErrorDescription", firstCharacters((where.empty() ? "" : where + ": ") + item.description, 1000));
        set("ErrorTable", firstCharacters(item.table, 255));
        if (item.page && item.row) {
            Bytes recid(4);
            bytes::putU32le(recid, 0, RowPointer(PageNumber(*item.page), static_cast<std::uint8_t>(*item.row)).toDescriptor());
            set("ErrorRecid", recid);
        }
        fields.assign(values, def, row);
        std::vector<std::uint8_t> encoded;
        rows.encode(fields.fields(), encoded);
        addRow(*target, std::move(encoded));
    }
}

// The catalog row of a table the repair adds: a surviving table's row with the
// Id, name, dates and flags of the new one, and no properties.
void Planner::addCatalogRow(PageNumber id, const std::string& name, bool system) {
    SalvageTable* cat = catalog();
    if (!cat) throw JetError(ErrorKind::Corruption, "O catálogo do banco de dados não pôde ser lido",
                             "no catalog table to add rows to");
    const TableEntry* model = nullptr;
    for (const TableEntry& e : db_.tables())
        if (!droppedCatalogRows_.count(e.catalog.location) &&
            (!model || (e.isSystem() == system && model->isSystem() != system)))
            model = &e;
    const TableDefinition& def = *cat->definition;
    const RowRecord* modelRecord = nullptr;
    if (model)
        for (const RowRecord& r : cat->records)
            if (r.location == model->catalog.location) modelRecord = &r;
    std::vector<Value> values(def.columns.size());
    const auto set = [&](const char* column, Value v) { setColumn(def, values, column, std::move(v)); };
    if (modelRecord) {
        const std::vector<std::uint8_t> modelBytes(rowBytes(modelRecord->data).begin(), rowBytes(modelRecord->data).end());
        const RowDecoder decoder(def, layout_);
        RowFields modelFields;
        decoder.split(modelBytes, modelFields, ErrorLocation{.table = def.name});
        for (std::size_t i = 0; i < def.columns.size(); ++i) {
            const Column& c = def.columns[i];
            if (c.storesLongValue()) continue;  // properties, modules: none for a table made here
            values[i] = db_.values().decode(c, modelFields.fields[i], ErrorLocation{.table = def.name});
        }
        if (model->isSystem() != system) set("Flags", static_cast<std::int32_t>(system ? kSystemObjectFlags : 0));
    } else {
        // No table's row is left to copy: the fields a table's row needs, under the
        // Tables container (its own row, when that survived, says its Id).
        std::int32_t tables = kTablesContainerId;
        for (const CatalogEntry& e : db_.catalog())
            if (e.type == object_type::Container && sameObjectName(e.name, "Tables")) tables = e.id;
        set("ParentId", tables);
        set("Flags", static_cast<std::int32_t>(system ? kSystemObjectFlags : 0));
    }
    encodeCatalogRow(values, static_cast<std::int32_t>(id.value), name, object_type::LocalTable);
}

// The row with the new object's Id, name and type, made and changed now, written
// among the catalog's rows.
void Planner::encodeCatalogRow(std::vector<Value>& values, std::int32_t id, const std::string& name,
                               std::int16_t type) {
    SalvageTable& cat = *catalog();
    const TableDefinition& def = *cat.definition;
    const DateTime now{static_cast<double>(std::time(nullptr)) / 86400.0 + 25569.0};  // days since 1899-12-30
    setColumn(def, values, "Id", id);
    setColumn(def, values, "Name", name);
    setColumn(def, values, "Type", type);
    setColumn(def, values, "DateCreate", now);
    setColumn(def, values, "DateUpdate", now);
    EncodedFields fields;
    fields.assign(ValueEncoder(layout_, db_.header().codePage), def, values);
    std::vector<std::uint8_t> encoded;
    RowEncoder(def, layout_).encode(fields.fields(), encoded);
    addRow(cat, std::move(encoded));
}

void Planner::addContainerRow(std::int32_t id, const std::string& name, std::uint32_t flags) {
    const TableDefinition& def = *catalog()->definition;
    std::vector<Value> values(def.columns.size());
    setColumn(def, values, "ParentId", kRootContainerId);
    setColumn(def, values, "Flags", static_cast<std::int32_t>(flags));
    encodeCatalogRow(values, id, name, object_type::Container);
}

// Containers whose catalog rows were lost, while objects of theirs survive, are
// written again: the three every file has under their names, any other under a
// made-up one.
void Planner::addMissingContainers() {
    if (!catalog()) return;  // without its catalog the file cannot be written anew anyway
    std::unordered_set<std::int32_t> ids;
    std::unordered_set<std::int32_t> parents;
    for (const CatalogEntry& e : db_.catalog()) {
        if (droppedCatalogRows_.count(e.location)) continue;
        ids.insert(e.id);
        parents.insert(e.parentId);
    }
    if (!needCatalogRows_.empty()) parents.insert(kTablesContainerId);
    const std::pair<std::int32_t, const char*> fixed[] = {
        {kTablesContainerId, "Tables"}, {kTablesContainerId + 1, "Databases"}, {kTablesContainerId + 2, "Relationships"}};
    for (const auto& [id, name] : fixed)
        if (!ids.count(id)) {
            addContainerRow(id, name, 0x80000000u);
            ids.insert(id);
        }
    for (std::int32_t parent : parents) {
        if (parent == 0 || parent == kRootContainerId || ids.count(parent)) continue;
        const std::string name = "Conteiner_Recuperado_" + std::to_string(parent);
        addContainerRow(parent, name, 0);
        SalvageItem item;
        item.kind = SalvageItem::Kind::TableRenamed;
        item.table = "MSysObjects";
        item.count = 0;
        item.description = "a linha do catálogo de um contêiner de objetos se perdeu; ele foi escrito de novo como " + name;
        plan_.losses.push_back(std::move(item));
    }
}

// Relationships that name a table the repaired file does not have are left out
// (the checker, like Access, takes them for damage); the rows of both tables stay.
void Planner::dropBrokenRelationships() {
    SalvageTable* rel = nullptr;
    for (SalvageTable& t : plan_.tables)
        if (sameObjectName(t.definition->name, "MSysRelationships")) rel = &t;
    if (!rel) return;
    const TableDefinition& def = *rel->definition;
    const Column* object = def.findColumn("szObject");
    const Column* referenced = def.findColumn("szReferencedObject");
    const Column* name = def.findColumn("szRelationship");
    if (!object || !referenced) return;
    std::unordered_set<std::string> tables;
    for (const SalvageTable& t : plan_.tables) tables.insert(lowerAsciiName(t.definition->name));
    const RowDecoder decoder(def, layout_);
    RowFields fields;
    std::vector<RowRecord> kept;
    for (const RowRecord& r : rel->records) {
        const ErrorLocation at{.page = r.data.page.value, .row = r.data.row, .table = def.name};
        decoder.split(rowBytes(r.data), fields, at);
        const auto text = [&](const Column* c) {
            const Value v = db_.values().decode(*c, fields.fields[static_cast<std::size_t>(c - def.columns.data())], at);
            const auto* s = std::get_if<std::string>(&v);
            return s ? *s : std::string();
        };
        const std::string a = text(object), b = text(referenced);
        if ((a.empty() || tables.count(lowerAsciiName(a))) && (b.empty() || tables.count(lowerAsciiName(b)))) {
            kept.push_back(r);
            continue;
        }
        SalvageItem item;
        item.kind = SalvageItem::Kind::RelationDropped;
        item.table = def.name;
        item.page = r.data.page.value;
        item.row = r.data.row;
        item.count = 0;
        item.description = "o relacionamento " + (name ? text(name) : std::string()) + " entre " + a + " e " + b +
                           " foi descartado: uma das tabelas se perdeu";
        plan_.losses.push_back(std::move(item));
    }
    rel->records = std::move(kept);
}

// Foreign keys that name a table the salvage lost: the compactor makes them plain
// indexes, and the report says so.
void Planner::reportBrokenRelations() {
    std::unordered_map<std::uint32_t, std::string> lost;
    for (const SalvageItem& item : plan_.losses)
        if (item.kind == SalvageItem::Kind::TableLost && item.page) lost[*item.page] = item.table;
    if (lost.empty()) return;
    for (const SalvageTable& t : plan_.tables)
        for (const LogicalIndex& li : t.definition->logicalIndexes) {
            auto it = lost.find(li.foreignKey.relatedTable.value);
            if ((li.foreignKey.side == 0 && li.kind != LogicalIndexKind::ForeignKey) || it == lost.end()) continue;
            SalvageItem item;
            item.kind = SalvageItem::Kind::RelationDropped;
            item.table = t.definition->name;
            item.count = 0;
            item.description = "a relação do índice " + li.name + " com a tabela perdida " + it->second +
                               " foi desfeita; as linhas ficaram";
            plan_.losses.push_back(std::move(item));
        }
}

SalvagePlan Planner::run() {
    listTables();
    if (!db_.catalogLosses().empty()) recoverUnnamedTables();
    reportBrokenRelations();
    for (SalvageTable& t : plan_.tables) gather(t);
    if (SalvageTable* cat = catalog()) dropUnreadableProperties(*cat);
    for (std::size_t i = 0, n = plan_.tables.size(); i < n; ++i) setAsideDuplicates(i);
    dropBrokenRelationships();
    if (!db_.catalogLosses().empty()) addMissingContainers();
    recordLosses();
    for (const auto& [table, name, system] : needCatalogRows_) addCatalogRow(plan_.tables[table].oldId, name, system);
    return std::move(plan_);
}

}  // namespace

SalvagePlan planSalvage(Database& db) { return Planner(db).run(); }

}  // namespace jet
