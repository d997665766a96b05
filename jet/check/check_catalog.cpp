#include "jet/check/check_catalog.h"

#include <map>
#include <set>
#include <variant>

namespace jet {

namespace {

constexpr std::int32_t kRootId = 0x0F000000;
constexpr std::int64_t kNoIgnoredId = std::int64_t{1} << 40;  // no Long column holds it

bool isCoreSystemTable(const std::string& name) {
    return name == "MSysObjects" || name == "MSysACEs" || name == "MSysQueries" || name == "MSysRelationships";
}

std::optional<std::int64_t> asInteger(const Value& v) {
    if (const auto* p = std::get_if<std::int32_t>(&v)) return *p;
    if (const auto* p = std::get_if<std::int16_t>(&v)) return *p;
    if (const auto* p = std::get_if<std::uint8_t>(&v)) return *p;
    return std::nullopt;
}

}  // namespace

void CatalogChecker::run() {
    checkEntries();
    checkAccessControl();
    checkNavigationPane();
    checkComplexColumns();
    checkProperties();
    checkQueries();
    checkRelationships();
}

std::size_t CatalogChecker::rowsNamingNoObject(const std::string& tableName, const std::string& columnName,
                                               const std::set<std::int32_t>& known, std::int64_t ignored) {
    Database& db = ctx_.db();
    const TableEntry* table = db.findTable(tableName);
    if (!table || !table->definition) return 0;
    const Column* column = table->definition->findColumn(columnName);
    if (!column) return 0;
    std::size_t count = 0;
    try {
        TableCursor cur = db.cursor(*table);
        while (cur.next()) {
            const auto id = asInteger(cur.value(column->blockIndex));
            if (id && *id != ignored && !known.count(static_cast<std::int32_t>(*id))) ++count;
        }
    } catch (const JetError&) {
        // Row damage in the table was already reported by its table check.
    }
    return count;
}

// MSysQueries rows of a query that no longer exists are dead weight, not damage.
void CatalogChecker::checkQueries() {
    std::set<std::int32_t> queryIds;
    for (const CatalogEntry& e : ctx_.db().catalog())
        if (e.type == object_type::Query) queryIds.insert(e.id);
    if (const std::size_t orphans = rowsNamingNoObject("MSysQueries", "ObjectId", queryIds, kNoIgnoredId))
        ctx_.add(FindingClass::SpaceLeak, "query_rows_orphan",
                 orphans == 1 ? "1 linha de MSysQueries pertence a uma consulta que não existe mais"
                              : std::to_string(orphans) + " linhas de MSysQueries pertencem a consultas que não existem mais",
                 std::nullopt, "MSysQueries");
}

// Relationships name their tables and columns; both must exist (linked tables have
// no local columns to compare).
void CatalogChecker::checkRelationships() {
    Database& db = ctx_.db();
    const TableEntry* rel = db.findTable("MSysRelationships");
    if (!rel || !rel->definition) return;
    const TableDefinition& d = *rel->definition;
    const Column* cols[4] = {d.findColumn("szObject"), d.findColumn("szColumn"), d.findColumn("szReferencedObject"),
                             d.findColumn("szReferencedColumn")};
    for (const Column* c : cols)
        if (!c) return;
    std::set<std::string> objects;
    for (const CatalogEntry& e : db.catalog())
        if (e.parentId == kTablesContainerId) objects.insert(lowerAsciiName(e.name));
    try {
        TableCursor cur = db.cursor(*rel);
        while (cur.next()) {
            for (int side = 0; side < 2; ++side) {
                const Value tv = cur.value(cols[2 * side]->blockIndex);
                const Value cv = cur.value(cols[2 * side + 1]->blockIndex);
                const auto* table = std::get_if<std::string>(&tv);
                const auto* column = std::get_if<std::string>(&cv);
                if (!table) continue;
                if (!objects.count(lowerAsciiName(*table))) {
                    ctx_.add(FindingClass::Damage, "relationship_table_missing",
                             "um relacionamento refere-se à tabela inexistente " + *table, cur.location().page.value,
                             "MSysRelationships", cur.location().row);
                    continue;
                }
                const TableEntry* t = db.findTable(*table);
                if (t && t->definition && column && !t->definition->findColumn(*column))
                    ctx_.add(FindingClass::Damage, "relationship_column_missing",
                             "um relacionamento refere-se à coluna inexistente " + *column + " da tabela " + *table,
                             cur.location().page.value, "MSysRelationships", cur.location().row);
            }
        }
    } catch (const JetError&) {
    }
}

void CatalogChecker::checkEntries() {
    Database& db = ctx_.db();
    std::set<std::int32_t> ids;
    std::set<std::pair<std::int32_t, std::string>> names;
    for (const CatalogEntry& e : db.catalog()) {
        const std::uint32_t page = e.location.page.value;
        const int row = e.location.row;
        if (!ids.insert(e.id).second)
            ctx_.add(FindingClass::Damage, "catalog_duplicate_id",
                     "dois objetos do catálogo têm o Id " + std::to_string(e.id) + " (" + e.name + ")", page,
                     "MSysObjects", row);
        if (!names.insert({e.parentId, lowerAsciiName(e.name)}).second)
            ctx_.add(FindingClass::Damage, "catalog_duplicate_name",
                     "dois objetos do mesmo contêiner se chamam " + e.name, page, "MSysObjects", row);
    }
    for (const CatalogEntry& e : db.catalog()) {
        if (e.parentId != kRootId && e.parentId != 0 && !ids.count(e.parentId))
            ctx_.add(FindingClass::Damage, "catalog_parent_missing",
                     "o objeto " + e.name + " pertence ao contêiner inexistente " + std::to_string(e.parentId),
                     e.location.page.value, "MSysObjects", e.location.row);
    }
    for (const TableEntry& t : db.tables()) {
        if (!t.definition) continue;
        const std::uint8_t type = t.definition->tableType;
        if (type == 0x53 && !isCoreSystemTable(t.name()))
            ctx_.add(FindingClass::Damage, "table_type_mismatch",
                     "a tabela está marcada como tabela de sistema do mecanismo sem ser uma delas",
                     t.definition->tdefPage.value, t.name());
    }
}

void CatalogChecker::checkAccessControl() {
    std::set<std::int32_t> ids;
    for (const CatalogEntry& e : ctx_.db().catalog()) ids.insert(e.id);
    if (const std::size_t dangling = rowsNamingNoObject("MSysACEs", "ObjectId", ids, kRootId))
        ctx_.add(FindingClass::SpaceLeak, "ace_orphan",
                 dangling == 1 ? "1 permissão em MSysACEs refere-se a um objeto que não existe mais"
                               : std::to_string(dangling) + " permissões em MSysACEs referem-se a objetos que não existem mais",
                 std::nullopt, "MSysACEs");
}

// The navigation pane's tables keep rows for objects deleted since (Access leaves
// them): harmless, but worth showing, and a compaction must not let such an Id
// come to name another object.
void CatalogChecker::checkNavigationPane() {
    std::set<std::int32_t> ids;
    for (const CatalogEntry& e : ctx_.db().catalog()) ids.insert(e.id);
    static const std::pair<const char*, const char*> kReferences[] = {
        {"MSysNavPaneObjectIDs", "Id"},
        {"MSysNavPaneGroupToObjects", "ObjectID"},
        {"MSysNavPaneGroups", "ObjectID"},
        {"MSysNavPaneGroupCategories", "SelectedObjectID"},
    };
    for (const auto& [tableName, columnName] : kReferences) {
        // 0 is how these columns say "no object".
        if (const std::size_t dangling = rowsNamingNoObject(tableName, columnName, ids, 0))
            ctx_.add(FindingClass::StaleStatistic, "navpane_dangling_id",
                     countedText(dangling, "linha", "linhas") + " de " + tableName + "." + columnName +
                         (dangling == 1 ? " refere-se a um objeto que não existe mais (inofensivo)"
                                        : " referem-se a objetos que não existem mais (inofensivo)"),
                     std::nullopt, tableName);
    }
}

void CatalogChecker::checkComplexColumns() {
    Database& db = ctx_.db();
    const TableEntry* cc = db.findTable("MSysComplexColumns");
    std::map<std::uint32_t, std::set<std::int64_t>> complexIdsByTable;  // from MSysComplexColumns
    std::set<std::int32_t> tableIds;
    for (const TableEntry& t : db.tables()) tableIds.insert(t.catalog.id);
    if (cc && cc->definition) {
        const TableDefinition& d = *cc->definition;
        const Column* complexId = d.findColumn("ComplexID");
        const Column* conceptual = d.findColumn("ConceptualTableID");
        const Column* flat = d.findColumn("FlatTableID");
        const Column* type = d.findColumn("ComplexTypeObjectID");
        try {
            TableCursor cur = db.cursor(*cc);
            while (cur.next()) {
                auto check = [&](const Column* c, const char* what) -> std::optional<std::int64_t> {
                    if (!c) return std::nullopt;
                    const auto v = asInteger(cur.value(c->blockIndex));
                    if (v && !tableIds.count(static_cast<std::int32_t>(*v)))
                        ctx_.add(FindingClass::Damage, "complex_column_table",
                                 std::string("MSysComplexColumns: ") + what + " " + std::to_string(*v) +
                                     " não é uma tabela",
                                 cur.location().page.value, "MSysComplexColumns", cur.location().row);
                    return v;
                };
                const auto owner = check(conceptual, "ConceptualTableID");
                check(flat, "FlatTableID");
                check(type, "ComplexTypeObjectID");
                if (owner && complexId) {
                    if (const auto id = asInteger(cur.value(complexId->blockIndex)))
                        complexIdsByTable[static_cast<std::uint32_t>(*owner)].insert(*id);
                }
            }
        } catch (const JetError&) {
            return;  // reported by the table check
        }
    }
    for (const TableEntry& t : db.tables()) {
        if (!t.definition) continue;
        for (const Column& c : t.definition->columns) {
            if (c.type != column_type::Complex) continue;
            const auto it = complexIdsByTable.find(t.definition->tdefPage.value);
            if (it == complexIdsByTable.end() || !it->second.count(c.complexId))
                ctx_.add(FindingClass::Damage, "complex_column_unregistered",
                         "a coluna complexa " + c.name + " não tem linha correspondente em MSysComplexColumns",
                         t.definition->tdefPage.value, t.name());
        }
    }
}

void CatalogChecker::checkProperties() {
    Database& db = ctx_.db();
    for (const CatalogEntry& e : db.catalog()) {
        try {
            db.properties(e);
        } catch (const JetError& err) {
            ctx_.add(FindingClass::Damage, "property_blob",
                     "as propriedades do objeto " + e.name + " estão danificadas: " + errorCause(err),
                     e.location.page.value, "MSysObjects", e.location.row);
        }
    }
}

}  // namespace jet
