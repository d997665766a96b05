#include "jet/check/check_table.h"

#include <algorithm>
#include <bit>
#include <map>
#include <set>
#include <string_view>

#include "jet/check/check_read_ahead.h"
#include "jet/check/check_rows.h"
#include "jet/format/byte_order.h"
#include "jet/index/index_tree.h"
#include "jet/table/column_type.h"
#include "jet/table/data_page.h"
#include "jet/table/long_value_reader.h"
#include "jet/table/row_decoder.h"
#include "jet/table/value_decoder.h"

namespace jet {

namespace {


std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool knownType(std::uint8_t t) { return (t >= 0x01 && t <= 0x0D) || (t >= 0x0F && t <= 0x14); }

std::string pageText(PageNumber p) { return std::to_string(p.value); }

}  // namespace

TableChecker::TableChecker(CheckContext& ctx, const TableDefinition& table, bool verifyIndexKeys,
                           std::size_t splitRowsFrom)
    : ctx_(ctx),
      t_(table),
      verifyIndexKeys_(verifyIndexKeys),
      splitRowsFrom_(splitRowsFrom),
      claimant_(ctx.claims().addClaimant("a tabela " + table.name)),
      mapHostClaimant_(ctx.mapHosts()) {}

void TableChecker::damage(std::string code, std::string message, std::optional<std::uint32_t> page,
                          std::optional<int> row) {
    ctx_.add(FindingClass::Damage, std::move(code), std::move(message), page, t_.name, row);
}

std::string TableChecker::indexName(const PhysicalIndex& index) const {
    std::string names;
    for (const LogicalIndex& li : t_.logicalIndexes) {
        if (li.physicalIndex != index.number) continue;
        if (!names.empty()) names += "/";
        names += li.name;
    }
    return names.empty() ? "#" + std::to_string(index.number) : names;
}

void TableChecker::run() {
    for (PageNumber p : t_.tdefPages) ctx_.claim(p, claimant_, t_.name);
    checkDefinition();
    owned_ = readMap(t_.ownedPagesMap, claimant_, "mapa de páginas da tabela");
    if (owned_)
        for (PageNumber p : owned_->pages()) ownedSet_.insert(p.value);
    for (const LongValueMaps& m : t_.longValueMaps) {
        const Column* c = t_.columnByNumber(m.columnNumber);
        const std::uint32_t claimant = ctx_.claims().addClaimant(
            "os valores longos da coluna " + (c ? c->name : std::to_string(m.columnNumber)) + " da tabela " + t_.name);
        lvClaimants_[m.columnNumber] = claimant;
        lvMaps_[m.columnNumber] = readMap(m.ownedPages, claimant, "mapa de valores longos");
        if (!m.freeSpacePages.page.isNull()) readMap(m.freeSpacePages, claimant, "mapa de espaço livre de valores longos");
    }

    // Index keys are collected while the rows are scanned.
    indexes_.resize(t_.physicalIndexes.size());
    for (std::size_t i = 0; i < t_.physicalIndexes.size(); ++i) {
        const PhysicalIndex& ix = t_.physicalIndexes[i];
        IndexState& st = indexes_[i];
        bool columnsOk = !ix.columns.empty();
        for (const IndexColumn& ic : ix.columns) {
            const Column* c = t_.columnByNumber(ic.columnNumber);
            if (!c) {
                columnsOk = false;
                break;
            }
            st.columnPositions.push_back(c->blockIndex);
        }
        if (!columnsOk) continue;
        try {
            st.encoder.emplace(t_, ix, ctx_.db().header().version);
        } catch (const JetError&) {
            st.encoder.reset();
        }
    }

    // The stored row count (bounded: it may be damaged) sizes the per-row tables once.
    readLongValuePages();
    const std::size_t rowHint = std::min<std::size_t>(
        {std::size_t{t_.rowCount}, owned_ ? owned_->pages().size() * 256 : 0, std::size_t{1} << 18});
    rows_.reserve(rowHint);
    for (IndexState& st : indexes_) st.expected.reserve(rowHint);
    checkDataPages();
    orderRows();
    checkLongValueMaps();
    sortedRows_ = std::make_shared<const TableRows>(std::move(rows_));
    for (std::size_t i = 0; i < t_.physicalIndexes.size(); ++i) {
        try {
            checkIndex(t_.physicalIndexes[i], indexes_[i]);
        } catch (const JetError& e) {
            ctx_.add(Finding{FindingClass::Damage, "index_unreadable",
                             "o índice não pôde ser lido: " + errorCause(e), e.location().page, std::nullopt,
                             std::nullopt, t_.name, indexName(t_.physicalIndexes[i]), std::nullopt});
        }
        indexes_[i] = IndexState{};
    }
    checkStatistics();
}

// ---------------------------------------------------------------- definition

void TableChecker::checkDefinition() {
    const auto& raw = t_.rawDefinition;
    const std::uint32_t first = t_.tdefPage.value;
    if (t_.definitionLength < 2 || t_.definitionLength > raw.size()) {
        damage("tdef_length", "o comprimento da definição (" + std::to_string(t_.definitionLength) +
                                  " bytes) não cabe nas páginas da definição",
               first);
    } else if (raw[t_.definitionLength - 2] != 0xFF || raw[t_.definitionLength - 1] != 0xFF) {
        damage("tdef_terminator", "a definição da tabela não termina com o marcador 0xFFFF onde seu comprimento indica",
               first);
    }
    if (t_.tableType != 0x4E && t_.tableType != 0x53)
        damage("tdef_table_type", "tipo de tabela desconhecido: " + std::to_string(t_.tableType), first);
    if (t_.columnCount < 1) damage("tdef_no_columns", "a tabela não tem colunas", first);
    if (t_.logicalIndexCount < t_.physicalIndexCount)
        damage("tdef_index_counts", "há menos índices lógicos que índices físicos", first);
    checkColumns();
    checkIndexDefinitions();
    checkConstants();

    // The last page of a definition chain records the room it leaves (Jet4+).
    if (!ctx_.layout().jet3 && t_.tdefPages.size() == 1 && t_.definitionLength <= raw.size()) {
        const std::uint16_t freeField = bytes::u16le(raw, 2);
        const std::size_t expected = ctx_.layout().pageSize - t_.definitionLength - 8;
        if (t_.definitionLength + 8 <= ctx_.layout().pageSize && freeField != expected)
            damage("tdef_free_space", "o espaço livre registrado na definição (" + std::to_string(freeField) +
                                          ") difere do calculado (" + std::to_string(expected) + ")",
                   first);
    }
}

// Fields whose value is the same in every file Access writes: a different value
// means the definition was overwritten.
void TableChecker::checkConstants() {
    const std::uint32_t first = t_.tdefPage.value;
    const auto& raw = t_.rawDefinition;
    if (ctx_.layout().jet3) {
        if (raw.size() > 3 && (raw[2] != 'V' || raw[3] != 'C'))
            damage("tdef_constant", "a marca VC da página de definição foi alterada", first);
        return;
    }
    constexpr std::uint32_t kDefinitionMark = 1625;
    constexpr std::uint32_t kIndexMark = 1923;
    bool ok = raw.size() >= 0x10 && bytes::u32le(raw, 0x0C) == kDefinitionMark;
    for (const Column& c : t_.columns) ok = ok && c.rawBlock.size() >= 5 && bytes::u32le(c.rawBlock, 1) == kDefinitionMark;
    for (const PhysicalIndex& ix : t_.physicalIndexes)
        ok = ok && ix.rawDefinition.size() >= 4 && bytes::u32le(ix.rawDefinition, 0) == kIndexMark;
    for (const LogicalIndex& li : t_.logicalIndexes)
        ok = ok && li.rawDefinition.size() >= 4 && bytes::u32le(li.rawDefinition, 0) == kDefinitionMark;
    if (!ok) damage("tdef_constant", "um campo de valor fixo da definição da tabela foi alterado", first);
}

void TableChecker::checkColumns() {
    const std::uint32_t first = t_.tdefPage.value;
    const bool jet3 = ctx_.layout().jet3;
    std::set<std::uint16_t> numbers;
    std::set<std::uint16_t> slots;
    std::set<std::string> names;
    std::vector<std::pair<std::size_t, std::size_t>> fixedRanges;
    std::size_t lvColumns = 0;
    for (const Column& c : t_.columns) {
        const std::string col = "coluna " + c.name + ": ";
        if (c.name.empty()) damage("column_name_empty", "uma coluna não tem nome", first);
        if (!names.insert(lowerAscii(c.name)).second)
            damage("column_name_duplicate", col + "nome repetido na tabela", first);
        if (c.number >= t_.maxColumns)
            damage("column_number_range", col + "número " + std::to_string(c.number) +
                                              " fora do limite de colunas da tabela (" +
                                              std::to_string(t_.maxColumns) + ")",
                   first);
        if (!numbers.insert(c.number).second) damage("column_number_duplicate", col + "número de coluna repetido", first);
        if (!knownType(c.type) && c.type < 0x40)
            damage("column_type_unknown", col + "tipo desconhecido " + std::to_string(c.type), first);
        if (c.isLongValue()) ++lvColumns;
        if (!c.isFixed() && !c.isBoolean()) {
            if (c.varSlot >= t_.varColumnSlots)
                damage("column_var_slot_range", col + "posição variável " + std::to_string(c.varSlot) +
                                                    " além das " + std::to_string(t_.varColumnSlots) + " da tabela",
                       first);
            if (!slots.insert(c.varSlot).second)
                damage("column_var_slot_duplicate", col + "posição variável repetida", first);
        } else if (!c.isBoolean()) {
            const std::size_t size = fixedSizeOf(c.type) ? fixedSizeOf(c.type) : c.length;
            const std::size_t maxRow = jet3 ? 2012 : 4060;
            if (std::size_t{c.fixedOffset} + size > maxRow)
                damage("column_fixed_range", col + "valor fixo fora do limite de tamanho da linha", first);
            fixedRanges.emplace_back(c.fixedOffset, c.fixedOffset + size);
        }
        if (!jet3 && c.type == column_type::Text && !c.isCalculated() && (c.length % 2) != 0)
            damage("column_text_length", col + "comprimento ímpar para texto Unicode", first);
    }
    std::sort(fixedRanges.begin(), fixedRanges.end());
    for (std::size_t i = 1; i < fixedRanges.size(); ++i) {
        if (fixedRanges[i].first < fixedRanges[i - 1].second)
            damage("column_fixed_overlap", "duas colunas de tamanho fixo ocupam os mesmos bytes da linha", first);
    }
    // The trailer lists exactly the Memo/OLE columns (tables written by some other
    // tools list none; their long values are then tracked by nobody).
    std::set<std::uint16_t> listed;
    for (const LongValueMaps& m : t_.longValueMaps) {
        const Column* c = t_.columnByNumber(m.columnNumber);
        if (!c)
            damage("lv_map_column_missing",
                   "mapas de valores longos para a coluna inexistente " + std::to_string(m.columnNumber), first);
        else if (!c->isLongValue() && !c->isCalculated())
            damage("lv_map_column_type", "mapas de valores longos para a coluna " + c->name + ", que não é Memorando/OLE",
                   first);
        if (!listed.insert(m.columnNumber).second)
            damage("lv_map_duplicate", "a coluna " + std::to_string(m.columnNumber) + " tem dois pares de mapas", first);
    }
    if (!t_.longValueMaps.empty()) {
        for (const Column& c : t_.columns)
            if (c.isLongValue() && !listed.count(c.number))
                damage("lv_map_missing", "a coluna Memorando/OLE " + c.name + " não tem mapas de valores longos", first);
    }
}

void TableChecker::checkIndexDefinitions() {
    const std::uint32_t first = t_.tdefPage.value;
    const bool jet3 = ctx_.layout().jet3;
    for (const PhysicalIndex& ix : t_.physicalIndexes) {
        const std::string name = "índice " + indexName(ix) + ": ";
        if (ix.columns.empty() || ix.columns.size() > 10)
            damage("index_column_count", name + countedText(ix.columns.size(), "coluna", "colunas") +
                                             " (um índice tem de 1 a 10)",
                   first);
        for (const IndexColumn& ic : ix.columns)
            if (!t_.columnByNumber(ic.columnNumber))
                damage("index_column_missing", name + "usa a coluna inexistente " + std::to_string(ic.columnNumber),
                       first);
        if (!jet3 && (ix.flags & 0x80) == 0)
            damage("index_flags", name + "indicadores " + std::to_string(ix.flags) + " implausíveis", first);
    }
    int primaryKeys = 0;
    for (const LogicalIndex& li : t_.logicalIndexes) {
        const std::string name = "índice " + li.name + ": ";
        if (li.physicalIndex >= t_.physicalIndexes.size())
            damage("logical_index_target", name + "aponta para o índice físico inexistente " +
                                               std::to_string(li.physicalIndex),
                   first);
        if (li.rawKind > 2) damage("logical_index_kind", name + "tipo " + std::to_string(li.rawKind) + " desconhecido", first);
        if (li.kind == LogicalIndexKind::PrimaryKey) ++primaryKeys;
        if (li.foreignKey.side != 0 || li.kind == LogicalIndexKind::ForeignKey) {
            const TableEntry* other = nullptr;
            for (const TableEntry& te : ctx_.db().tables())
                if (te.definition && te.definition->tdefPage == li.foreignKey.relatedTable) other = &te;
            if (li.foreignKey.relatedTable == t_.tdefPage) other = nullptr;  // resolved below
            const TableDefinition* od = other ? &*other->definition : nullptr;
            if (li.foreignKey.relatedTable == t_.tdefPage) od = &t_;
            if (!od) {
                damage("foreign_key_table", name + "a chave estrangeira aponta para a página " +
                                                pageText(li.foreignKey.relatedTable) + ", que não é uma tabela",
                       first);
                continue;
            }
            const LogicalIndex* back = nullptr;
            for (const LogicalIndex& o : od->logicalIndexes)
                if (static_cast<std::int32_t>(o.indexNumber) == li.foreignKey.relatedIndexNumber) back = &o;
            if (!back) {
                damage("foreign_key_index", name + "a tabela " + od->name + " não tem o índice relacionado " +
                                                std::to_string(li.foreignKey.relatedIndexNumber),
                       first);
            } else if (back->foreignKey.relatedTable != t_.tdefPage ||
                       back->foreignKey.side + li.foreignKey.side != 3) {
                damage("foreign_key_mismatch", name + "o índice " + back->name + " da tabela " + od->name +
                                                   " não aponta de volta para este",
                       first);
            }
        }
    }
    if (primaryKeys > 1) damage("primary_key_count", "a tabela tem mais de uma chave primária", first);
}

// ---------------------------------------------------------------- usage maps

std::optional<UsageMap> TableChecker::readMap(RowPointer where, std::uint32_t claimant, const std::string& what) {
    if (where.page.isNull()) {
        damage("usage_map_reference", what + ": referência nula", t_.tdefPage.value);
        return std::nullopt;
    }
    if (where.page.value >= ctx_.file().pageCount()) {
        damage("usage_map_reference", what + ": referência à página " + pageText(where.page) + " além do fim do arquivo",
               t_.tdefPage.value);
        return std::nullopt;
    }
    PageRef host = ctx_.page(where.page, t_.name);
    if (!host) return std::nullopt;
    const std::uint32_t owner = bytes::u32le(host->span(), ctx_.layout().dataOwner);
    if (host->bytes[0] != 0x01 || (owner != 0 && !(where.page.value == 1 && owner == 1))) {
        damage("usage_map_host", what + ": a página " + pageText(where.page) + " não é uma página de mapas de uso",
               where.page.value, where.row);
        return std::nullopt;
    }
    ctx_.claim(where.page, mapHostClaimant_, t_.name);
    try {
        UsageMap map = UsageMap::read(ctx_.file(), ctx_.layout(), where);
        if (map.kind() == UsageMap::Kind::Inline && map.startPage() % 8 != 0)
            ctx_.add(FindingClass::StaleStatistic, "usage_map_start",
                     what + ": página inicial " + std::to_string(map.startPage()) +
                         " não é múltipla de 8 (o Access usa múltiplos de 8; inofensivo)",
                     where.page.value, t_.name, where.row);
        if (map.beyondEnd() > 0)
            damage("usage_map_beyond_end", what + ": " + countedText(map.beyondEnd(), "página", "páginas") +
                                               " além do fim do arquivo",
                   where.page.value, where.row);
        for (PageNumber bp : map.bitmapPages())
            if (!bp.isNull()) ctx_.claim(bp, claimant, t_.name);
        return map;
    } catch (const JetError& e) {
        damage("usage_map_unreadable", what + " ilegível: " + errorCause(e), where.page.value, where.row);
        return std::nullopt;
    }
}

// ---------------------------------------------------------------- data pages and rows

void TableChecker::checkDataPages() {
    if (!owned_) return;
    // Every Memo/OLE column's long values have a claimant before rows are read on
    // more than one thread (a column the trailer does not list gets one here).
    for (const Column& c : t_.columns) {
        if ((c.type != column_type::Memo && c.type != column_type::Ole) || lvClaimants_.count(c.number)) continue;
        lvClaimants_[c.number] =
            ctx_.claims().addClaimant("os valores longos da coluna " + c.name + " da tabela " + t_.name);
    }
    RowCheckPlan plan;
    plan.table = &t_;
    plan.layout = &ctx_.layout();
    plan.pageCount = ctx_.file().pageCount();
    plan.maxFindingsPerKind = ctx_.maxFindingsPerKind();
    plan.verifyIndexKeys = verifyIndexKeys_;
    plan.ownedPages = &ownedSet_;
    plan.longValuePages = &lvSweep_;
    plan.longValueMaps = &lvMaps_;
    plan.longValueClaimants = &lvClaimants_;
    for (const IndexState& st : indexes_) {
        RowCheckPlan::Index& ix = plan.indexes.emplace_back();
        ix.encoder = st.encoder ? &*st.encoder : nullptr;
        ix.columnPositions = st.columnPositions;
        ix.textAsUnits.assign(st.columnPositions.size(), false);
        if (!ix.encoder || ctx_.layout().jet3) continue;
        for (std::size_t j = 0; j < st.columnPositions.size(); ++j) {
            const Column& c = t_.columns[st.columnPositions[j]];
            const KeyColumn& k = ix.encoder->columns()[j];
            ix.textAsUnits[j] = c.type == column_type::Text && !c.isCalculated() && k.sortOrder &&
                                *k.sortOrder != SortOrder::General97;
        }
    }

    const std::vector<PageNumber> pages = owned_->pages();
    RowScanner here(plan, ctx_.file(), ctx_.db().values());
    // A large table's pages are checked a chunk at a time on two threads and taken
    // in page order. A chunk is a quarter of the smallest table split, at most 64
    // pages: two clusters of reads.
    if (splitRowsFrom_ > 0 && pages.size() >= splitRowsFrom_) {
        if (RowScanHelper* helper = ctx_.rowScanHelper()) {
            SharedRowScan shared(plan, pages, std::min<std::size_t>(64, std::max<std::size_t>(1, splitRowsFrom_ / 4)),
                                 helper);
            shared.run(here, ctx_.file(), [&](const RowScan& scan) { takeRows(scan, here); });
            return;
        }
    }
    const PlannedReads planned(ctx_.file(), pages);  // known pages: read a cluster at a time
    RowScan scan;
    for (PageNumber p : pages) {
        scan.clear();
        here.scanPage(p, scan);
        takeRows(scan, here);
    }
}

// Takes the pages of `scan` in order, each only once it is claimed for the table,
// as a check reading them in turn would: its findings and claims, then its rows.
void TableChecker::takeRows(const RowScan& scan, RowScanner& here) {
    std::size_t step = 0;
    std::size_t row = 0;
    std::size_t use = 0;
    for (const RowScan::Page& p : scan.pages) {
        if (ctx_.claim(p.page, claimant_, t_.name)) {
            if (keepsCountedFinding(scan, step, p.stepsEnd)) {
                // Findings the scan only counted would be kept here (pages before
                // were not the table's): read the page again for them.
                RowScan again;
                here.scanPage(p.page, again);
                takePage(again, again.pages.front(), 0, 0, 0);
            } else {
                takePage(scan, p, step, row, use);
            }
        }
        step = p.stepsEnd;
        row = p.rowsEnd;
        use = p.usesEnd;
    }
}

// Whether a finding in steps [from, to) that the scan kept only as a count falls
// within the cap of its kind once the findings before it are in the report. The
// scan caps each kind by what it met itself, pages not taken included.
bool TableChecker::keepsCountedFinding(const RowScan& scan, std::size_t from, std::size_t to) const {
    std::map<std::string_view, std::size_t> seen;
    for (std::size_t i = from; i < to; ++i) {
        const RowScan::Step& s = scan.steps[i];
        if (s.kind != RowScan::Step::Kind::Finding && s.kind != RowScan::Step::Kind::Counted) continue;
        const std::string& code = scan.findings[s.a].code;
        auto [it, added] = seen.try_emplace(code, 0);
        if (added) it->second = ctx_.findingsOfKind(code);
        if (++it->second <= ctx_.maxFindingsPerKind() && s.kind == RowScan::Step::Kind::Counted) return true;
    }
    return false;
}

// One page of `scan`, claimed; `step`, `row` and `use` are where its parts begin.
void TableChecker::takePage(const RowScan& scan, const RowScan::Page& p, std::size_t step, std::size_t row,
                            std::size_t use) {
    for (; step < p.stepsEnd; ++step) {
        const RowScan::Step& s = scan.steps[step];
        switch (s.kind) {
            case RowScan::Step::Kind::Finding: ctx_.add(scan.findings[s.a]); break;
            case RowScan::Step::Kind::Counted: ctx_.countBeyondCap(scan.findings[s.a]); break;
            case RowScan::Step::Kind::Claim: ctx_.claim(PageNumber(s.a), s.b, t_.name); break;
            case RowScan::Step::Kind::OverflowTarget: {
                const auto& [target, from] = scan.moves[s.a];
                if (!overflowTargets_.insert(target).second)
                    damage("overflow_target_shared",
                           "duas linhas apontam para o mesmo destino (página " + pageText(target.page) + " linha " +
                               std::to_string(target.row) + ")",
                           from.page.value, from.row);
                break;
            }
        }
    }
    const auto from = static_cast<std::ptrdiff_t>(row);
    const auto to = static_cast<std::ptrdiff_t>(p.rowsEnd);
    rows_.insert(rows_.end(), scan.rows.begin() + from, scan.rows.begin() + to);
    for (std::size_t k = 0; k < indexes_.size(); ++k) {
        IndexState& st = indexes_[k];
        const std::size_t at = st.expected.size();
        st.expected.insert(st.expected.end(), scan.expected[k].begin() + from, scan.expected[k].begin() + to);
        if (scan.gaps[k].empty()) continue;
        // Gaps are numbered within the scan: renumber them into the table's list.
        for (std::size_t i = at; i < st.expected.size(); ++i) {
            ExpectedEntry& e = st.expected[i];
            if (e.encoded() || e.gap() == kNoKeyGap) continue;
            const std::uint32_t local = e.gap();
            e.setGap(static_cast<std::uint32_t>(st.gaps.size()));
            st.gaps.push_back(scan.gaps[k][local]);
        }
    }
    lvalRowsUsed_.insert(lvalRowsUsed_.end(), scan.longValueUses.begin() + static_cast<std::ptrdiff_t>(use),
                         scan.longValueUses.begin() + static_cast<std::ptrdiff_t>(p.usesEnd));
    liveRows_ += p.rowsChecked;
    ctx_.report().rowsChecked += p.rowsChecked;
    if (p.maxAutonumber && (!maxAutonumber_ || *p.maxAutonumber > *maxAutonumber_))
        maxAutonumber_ = p.maxAutonumber;
    if (p.error) std::rethrow_exception(p.error);
}

// Rows are met in the order of the table's page map, which is ascending for every
// map kind; sorting is only a safeguard, so lookups by row pointer can bisect.
void TableChecker::orderRows() {
    if (!std::is_sorted(rows_.begin(), rows_.end())) {
        std::vector<std::size_t> order(rows_.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return rows_[a] < rows_[b]; });
        BulkVector<RowPointer> rows(rows_.size());
        for (std::size_t i = 0; i < order.size(); ++i) rows[i] = rows_[order[i]];
        rows_ = std::move(rows);
        for (IndexState& st : indexes_) {
            BulkVector<ExpectedEntry> expected(st.expected.size());
            for (std::size_t i = 0; i < order.size(); ++i) expected[i] = st.expected[order[i]];
            st.expected = std::move(expected);
        }
    }
    std::sort(lvalRowsUsed_.begin(), lvalRowsUsed_.end(),
              [](const LongValueUse& a, const LongValueUse& b) { return a.segment < b.segment; });
    for (std::size_t i = 1; i < lvalRowsUsed_.size(); ++i) {
        const LongValueUse& u = lvalRowsUsed_[i];
        if (u.segment != lvalRowsUsed_[i - 1].segment) continue;
        damage("long_value_shared", "a linha de valor longo (página " + pageText(u.segment.page) + " linha " +
                                        std::to_string(u.segment.row) + ") é usada por dois valores",
               u.usedBy.page.value, u.usedBy.row);
    }
}

void TableChecker::readLongValuePages() {
    std::vector<std::uint32_t> pages;
    for (const auto& [column, map] : lvMaps_) {
        if (!map) continue;
        for (PageNumber p : map->pages())
            if (p.value < ctx_.file().pageCount()) pages.push_back(p.value);
    }
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    if (ctx_.readAhead() && ctx_.readAhead()->takeLongValues(t_.tdefPage, pages, lvSweep_)) return;
    // Pages that cannot be read are reported when the map or a value reaches them.
    lvSweep_.run(ctx_.file(), ctx_.layout(), std::move(pages));
}

void TableChecker::checkLongValueMaps() {
    for (auto& [column, map] : lvMaps_) {
        if (!map) continue;
        const std::uint32_t claimant = lvClaimants_[column];
        auto from = lvalRowsUsed_.begin();
        for (PageNumber p : map->pages()) {
            if (!ctx_.claim(p, claimant, t_.name)) continue;
            // Rows nobody references: leaked long values (deleted ones are flagged and empty).
            const auto countOrphans = [&](const std::array<std::uint64_t, 4>& live) {
                // The uses of this page's rows, in row order, met by one cursor that
                // moves on with the map's pages (ascending; searched again if not).
                const RowPointer first(p, 0);
                if (from != lvalRowsUsed_.begin() && !(std::prev(from)->segment < first))
                    from = std::lower_bound(lvalRowsUsed_.begin(), lvalRowsUsed_.end(), first,
                                            [](const LongValueUse& u, const RowPointer& x) { return u.segment < x; });
                while (from != lvalRowsUsed_.end() && from->segment < first) ++from;
                auto use = from;
                std::size_t orphans = 0;
                for (unsigned word = 0; word < 4; ++word) {
                    for (std::uint64_t bits = live[word]; bits != 0; bits &= bits - 1) {
                        const RowPointer row(p, static_cast<std::uint8_t>(64 * word + std::countr_zero(bits)));
                        while (use != lvalRowsUsed_.end() && use->segment < row) ++use;
                        if (use == lvalRowsUsed_.end() || use->segment != row) ++orphans;
                    }
                }
                if (orphans > 0)
                    ctx_.add(FindingClass::SpaceLeak, "long_value_orphan_rows",
                             countedText(orphans, "linha", "linhas") + " de valores longos sem referência", p.value,
                             t_.name);
            };
            if (const LongValuePageFacts* facts = lvSweep_.find(p); facts && facts->lval && facts->readable) {
                countOrphans(facts->live);
                continue;
            }
            PageRef ref = ctx_.page(p, t_.name);
            if (!ref) continue;
            if (ref->bytes[0] != 0x01 || bytes::u32le(ref->span(), ctx_.layout().dataOwner) != kLongValueOwner) {
                damage("lv_map_page_type", "a página está no mapa de valores longos mas não é uma página de valores longos",
                       p.value);
                continue;
            }
            try {
                const DataPage page(ref, ctx_.layout());  // throws what the facts only noted
                lvRowScratch_.clear();
                countOrphans(longValuePageFactsOf(*ref, ctx_.layout(), lvRowScratch_, 0).live);
            } catch (const JetError& e) {
                damage("data_page_header", "o cabeçalho da página de valores longos contradiz o formato: " + errorCause(e),
                       p.value);
            }
        }
    }
}

// ---------------------------------------------------------------- indexes

void TableChecker::checkIndex(const PhysicalIndex& ix, IndexState& st) {
    const std::string name = indexName(ix);
    ++ctx_.report().indexesChecked;
    auto indexDamage = [&](std::string code, std::string message, std::optional<std::uint32_t> page,
                           std::optional<int> row = std::nullopt) {
        ctx_.add(Finding{FindingClass::Damage, std::move(code), std::move(message), page, row, std::nullopt, t_.name,
                         name, std::nullopt});
    };
    const std::uint32_t claimant = ctx_.claims().addClaimant("o índice " + name + " da tabela " + t_.name);
    std::optional<UsageMap> map = readMap(ix.usageMap, claimant, "mapa do índice " + name);

    if (!ctx_.readAhead() || !ctx_.readAhead()->takeTree(ix.rootPage, t_.tdefPage, tree_)) {
        walkTableIndex(ctx_.file(), ctx_.layout().jet3, ix.rootPage, t_.tdefPage, tree_,
                       map ? std::span<const PageNumber>(map->pages()) : std::span<const PageNumber>());
    }
    const IndexTree& tree = tree_;
    std::set<std::uint32_t> treePages;
    for (const IndexTreePage& p : tree.pages) {
        treePages.insert(p.page.value);
        ctx_.claim(p.page, claimant, t_.name);
    }
    for (const IndexTreeFinding& f : tree.findings) {
        // The node flag byte repeats what the page type says; other writers (Jackcess)
        // leave it 0 on intermediate pages and readers go by the type.
        if (f.detail.rfind("node flag", 0) == 0) {
            ctx_.add(Finding{FindingClass::StaleStatistic, "index_node_flag",
                             "indicador de nó da página de índice difere do tipo da página (inofensivo)", f.page.value,
                             std::nullopt, std::nullopt, t_.name, name, std::nullopt});
            continue;
        }
        indexDamage("index_structure", "estrutura da árvore do índice: " + f.message, f.page.value);
    }
    if (map) {
        std::set<std::uint32_t> mapPages;
        for (PageNumber p : map->pages()) mapPages.insert(p.value);
        if (mapPages != treePages)
            indexDamage("index_map_mismatch", "o mapa do índice não lista exatamente as páginas da árvore",
                        ix.rootPage.value);
    }

    IndexComparison c;
    c.rows = sortedRows_;
    c.index = &ix;
    c.table = t_.name;
    c.indexName = name;
    c.tree = std::move(tree_);
    tree_ = IndexTree{};
    c.expected = std::move(st.expected);
    c.gaps = std::move(st.gaps);
    c.tdefPage = t_.tdefPage.value;
    c.distinctKeysOffset = static_cast<std::uint32_t>(ctx_.layout().tdefHeaderEnd +
                                                      ix.number * ctx_.layout().indexStatisticsSize + 4);
    // On a helper thread when the rows are, while this one goes on.
    ctx_.compareIndex(std::move(c), splitRowsFrom_ * 4);
}

// ---------------------------------------------------------------- statistics

void TableChecker::checkStatistics() {
    if (owned_ && liveRows_ != t_.rowCount) {
        Finding f{FindingClass::StaleStatistic, "row_count_stale",
                  "a definição registra " + countedText(t_.rowCount, "linha", "linhas") + ", mas a tabela tem " +
                      std::to_string(liveRows_),
                  t_.tdefPage.value, std::nullopt, ctx_.layout().tdefRowCount, t_.name, {},
                  static_cast<std::int64_t>(liveRows_)};
        ctx_.add(std::move(f));
    }
    if (maxAutonumber_ && *maxAutonumber_ > static_cast<std::int64_t>(static_cast<std::int32_t>(t_.autonumber)) &&
        *maxAutonumber_ > 0) {
        Finding f{FindingClass::Damage, "autonumber_below_max",
                  "o contador de numeração automática (" + std::to_string(static_cast<std::int32_t>(t_.autonumber)) +
                      ") é menor que o maior valor da tabela (" + std::to_string(*maxAutonumber_) +
                      "): o Access geraria valores repetidos",
                  t_.tdefPage.value, std::nullopt, ctx_.layout().tdefAutonumber, t_.name, {}, *maxAutonumber_};
        ctx_.add(std::move(f));
    }
    if (!t_.freeSpaceMap.page.isNull() && owned_) {
        std::optional<UsageMap> free = readMap(t_.freeSpaceMap, claimant_, "mapa de espaço livre da tabela");
        if (free) {
            for (PageNumber p : free->pages()) {
                if (!ownedSet_.count(p.value)) {
                    ctx_.add(FindingClass::StaleStatistic, "free_space_map_outside",
                             "o mapa de espaço livre lista uma página que não pertence à tabela", p.value, t_.name);
                }
            }
        }
    }
}

}  // namespace jet
