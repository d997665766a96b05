#include "jet/table/database.h"

#include <algorithm>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"
#include "jet/table/salvage_cursor.h"
#include "jet/table/table_definition_reader.h"

namespace jet {

namespace {

template <class T>
T valueOr(const Value& v, T fallback) {
    if (const T* p = std::get_if<T>(&v)) return *p;
    return fallback;
}

}  // namespace

bool TableEntry::isSystem() const { return catalog.isSystem(); }

std::unique_ptr<Database> Database::open(const std::string& path) { return open(path, false); }

std::unique_ptr<Database> Database::openForSalvage(const std::string& path) { return open(path, true); }

std::unique_ptr<Database> Database::open(const std::string& path, bool salvage) {
    std::unique_ptr<Database> db(new Database());
    db->file_ = std::make_unique<PageFile>(path);
    const auto prefix = db->file_->readAt(0, 0x20);
    const std::size_t pageSize = DatabaseHeader::pageSizeFromPrefix(prefix);
    const auto page0 = db->file_->readAt(0, pageSize);
    db->header_ = DatabaseHeader::parse(page0);
    if (db->header_.isEncrypted())
        throw JetError(ErrorKind::Encrypted, "O banco de dados está criptografado com senha e não pode ser lido",
                       "ACE file with a non-zero database key (Office encryption)", ErrorLocation{.page = 0});
    db->layout_ = db->header_.isJet3() ? FormatLayout::forJet3() : FormatLayout::forJet4();
    db->file_->configure(pageSize, db->header_.isEncoded() ? db->header_.databaseKey : 0);
    if (db->file_->pageCount() < 3)
        throwCorruption("file holds only " + std::to_string(db->file_->pageCount()) + " pages",
                        ErrorLocation{.structure = "arquivo"});
    db->values_ = std::make_unique<ValueDecoder>(*db->file_, db->layout_, db->header_.codePage);
    db->readCatalog(salvage);
    return db;
}

void Database::readCatalog(bool salvage) {
    catalogDefinition_ = readTableDefinition(*file_, layout_, PageNumber(2), header_.codePage, "MSysObjects");
    const TableDefinition& def = catalogDefinition_;
    auto column = [&](const char* name) -> std::optional<std::size_t> {
        const Column* c = def.findColumn(name);
        if (!c) return std::nullopt;
        return c->blockIndex;
    };
    const auto idCol = column("Id");
    const auto parentCol = column("ParentId");
    const auto nameCol = column("Name");
    const auto typeCol = column("Type");
    const auto flagsCol = column("Flags");
    if (!idCol || !nameCol || !typeCol)
        throwCorruption("the catalog lacks its Id, Name or Type column",
                        ErrorLocation{.page = 2, .table = "MSysObjects"});

    auto take = [&](auto& cur) {
        CatalogEntry e;
        e.location = cur.location();
        e.id = valueOr<std::int32_t>(cur.value(*idCol), 0);
        if (parentCol) e.parentId = valueOr<std::int32_t>(cur.value(*parentCol), 0);
        e.name = valueOr<std::string>(cur.value(*nameCol), std::string());
        e.type = valueOr<std::int16_t>(cur.value(*typeCol), 0);
        if (flagsCol) e.flags = static_cast<std::uint32_t>(valueOr<std::int32_t>(cur.value(*flagsCol), 0));
        catalog_.push_back(std::move(e));
    };
    if (salvage) {
        SalvageCursor cur = SalvageCursor::overTable(*file_, layout_, *values_, def);
        while (cur.next()) take(cur);
        catalogLosses_ = cur.losses();
    } else {
        TableCursor cur(*file_, layout_, *values_, def);
        while (cur.next()) take(cur);
    }

    for (const CatalogEntry& e : catalog_) {
        if (e.type != object_type::LocalTable) continue;
        TableEntry t;
        t.catalog = e;
        // A table's Id is its TDEF page (low 24 bits; the top byte is never set for tables).
        const auto page = static_cast<std::uint32_t>(e.id) & 0x00FFFFFFu;
        try {
            if (page == 2) {
                t.definition = catalogDefinition_;
                t.definition->name = e.name;
            } else {
                t.definition = readTableDefinition(*file_, layout_, PageNumber(page), header_.codePage, e.name);
            }
            applyCalculatedResultTypes(t);
        } catch (const JetError& err) {
            t.definitionError = err.what();
        }
        tables_.push_back(std::move(t));
    }
}

void Database::applyCalculatedResultTypes(TableEntry& table) {
    bool any = false;
    for (const Column& c : table.definition->columns) any = any || c.isCalculated();
    if (!any) return;
    // The stored result's type is a column property, not the TDEF type byte.
    std::optional<PropertyBlob> blob;
    try {
        blob = properties(table.catalog);
    } catch (const JetError&) {
        return;  // without properties the TDEF type is the best guess
    }
    if (!blob) return;
    for (Column& c : table.definition->columns) {
        if (!c.isCalculated()) continue;
        for (const PropertyGroup& g : blob->groups) {
            if (g.chunkType != 0x0001 || g.objectName != c.name) continue;
            for (const Property& p : g.properties) {
                if (p.name != "ResultType") continue;
                if (const auto* v = std::get_if<std::uint8_t>(&p.value)) c.resultType = *v;
            }
        }
    }
}

const TableEntry* Database::findTable(const std::string& name) const {
    for (const TableEntry& t : tables_)
        if (t.name() == name) return &t;
    for (const TableEntry& t : tables_)
        if (sameObjectName(t.name(), name)) return &t;
    return nullptr;
}

TableCursor Database::cursor(const TableEntry& table) {
    if (!table.definition)
        throw JetError(ErrorKind::Corruption, "A definição da tabela " + table.name() + " está danificada",
                       table.definitionError, ErrorLocation{.table = table.name()});
    return TableCursor(*file_, layout_, *values_, *table.definition);
}

TableCursor Database::cursor(const TableDefinition& definition) {
    return TableCursor(*file_, layout_, *values_, definition);
}

UsageMap Database::globalFreeMap() { return UsageMap::read(*file_, layout_, RowPointer(PageNumber(1), 0)); }

std::vector<ComplexColumnInfo> Database::complexColumns() {
    std::vector<ComplexColumnInfo> out;
    const TableEntry* t = findTable("MSysComplexColumns");
    if (!t || !t->definition) return out;
    const TableDefinition& d = *t->definition;
    const Column* id = d.findColumn("ComplexID");
    const Column* name = d.findColumn("ColumnName");
    const Column* conceptual = d.findColumn("ConceptualTableID");
    const Column* flat = d.findColumn("FlatTableID");
    const Column* typeObject = d.findColumn("ComplexTypeObjectID");
    if (!id || !name || !conceptual || !flat || !typeObject) return out;
    auto page = [](const Value& v) { return PageNumber(static_cast<std::uint32_t>(valueOr<std::int32_t>(v, 0))); };
    TableCursor cur = cursor(*t);
    while (cur.next()) {
        ComplexColumnInfo c;
        c.complexId = static_cast<std::uint32_t>(valueOr<std::int32_t>(cur.value(id->blockIndex), 0));
        c.columnName = valueOr<std::string>(cur.value(name->blockIndex), std::string());
        c.conceptualTable = page(cur.value(conceptual->blockIndex));
        c.flatTable = page(cur.value(flat->blockIndex));
        c.complexTypeObject = page(cur.value(typeObject->blockIndex));
        out.push_back(std::move(c));
    }
    return out;
}

std::optional<PropertyBlob> Database::properties(const CatalogEntry& entry) {
    const Column* lvProp = catalogDefinition_.findColumn("LvProp");
    if (!lvProp) return std::nullopt;
    // Read the catalog row again through its slot (following an overflow pointer if any).
    PageRef page = file_->page(entry.location.page);
    DataPage dp(page, layout_);
    std::span<const std::uint8_t> raw = dp.row(entry.location.row);
    PageRef holder;
    if (dp.isOverflow(entry.location.row)) {
        const RowPointer target = RowPointer::fromDescriptor(bytes::u32le(raw, 0));
        if (target.page.value >= file_->pageCount())
            throwCorruption("overflow pointer beyond the end of the file", ErrorLocation{.page = entry.location.page.value});
        holder = file_->page(target.page);
        DataPage tp(holder, layout_);
        raw = tp.row(target.row);
    }
    RowDecoder decoder(catalogDefinition_, layout_);
    RowFields fields;
    const ErrorLocation at{.page = entry.location.page.value, .row = entry.location.row, .table = "MSysObjects"};
    decoder.split(raw, fields, at);
    const Value v = values_->decode(*lvProp, fields.fields[lvProp->blockIndex], at);
    const Bytes* blob = std::get_if<Bytes>(&v);
    if (!blob || blob->empty()) return std::nullopt;
    return PropertyBlob::parse(*blob, layout_.jet3, *values_);
}

}  // namespace jet
