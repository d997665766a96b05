#include "jet/check_table.h"

#include <algorithm>
#include <bit>
#include <set>

#include "jet/byte_order.h"
#include "jet/column_type.h"
#include "jet/data_page.h"
#include "jet/index_tree.h"
#include "jet/check_read_ahead.h"
#include "jet/long_value_reader.h"
#include "jet/row_decoder.h"

namespace jet {

namespace {


std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

bool knownType(std::uint8_t t) { return (t >= 0x01 && t <= 0x0D) || (t >= 0x0F && t <= 0x14); }

std::string pageText(PageNumber p) { return std::to_string(p.value); }

// FNV-1a over the key bytes, finished with a 64-bit mixer so that keys differing
// only in their last bytes still spread over every bit.
std::uint64_t keyDigest(std::span<const std::uint8_t> key) {
    std::uint64_t h = 0xCBF29CE484222325u;
    for (std::uint8_t b : key) h = (h ^ b) * 0x100000001B3u;
    h ^= key.size();
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDu;
    h ^= h >> 33;
    return h;
}

}  // namespace

TableChecker::TableChecker(CheckContext& ctx, const TableDefinition& table, bool verifyIndexKeys)
    : ctx_(ctx),
      t_(table),
      verifyIndexKeys_(verifyIndexKeys),
      claimant_(ctx.claims().addClaimant("a tabela " + table.name)),
      mapHostClaimant_(ctx.mapHosts()),
      decoder_(table, ctx.layout()) {}

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
    rowIndex_.emplace(rows_, [](RowPointer p) { return p; });
    checkLongValueMaps();
    for (std::size_t i = 0; i < t_.physicalIndexes.size(); ++i) {
        try {
            checkIndex(t_.physicalIndexes[i], indexes_[i]);
        } catch (const JetError& e) {
            ctx_.add(Finding{FindingClass::Damage, "index_unreadable",
                             "o índice não pôde ser lido: " + std::string(e.what()), e.location().page, std::nullopt,
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
            damage("index_column_count", name + std::to_string(ix.columns.size()) + " colunas", first);
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
            damage("usage_map_beyond_end", what + ": " + std::to_string(map.beyondEnd()) +
                                               " páginas além do fim do arquivo",
                   where.page.value, where.row);
        for (PageNumber bp : map.bitmapPages())
            if (!bp.isNull()) ctx_.claim(bp, claimant, t_.name);
        return map;
    } catch (const JetError& e) {
        damage("usage_map_unreadable", what + ": " + e.what(), where.page.value, where.row);
        return std::nullopt;
    }
}

// ---------------------------------------------------------------- data pages and rows

void TableChecker::checkDataPages() {
    if (!owned_) return;
    const FormatLayout& layout = ctx_.layout();
    for (PageNumber pn : owned_->pages()) {
        if (!ctx_.claim(pn, claimant_, t_.name)) continue;
        PageRef ref = ctx_.page(pn, t_.name);
        if (!ref) continue;
        const std::uint32_t owner = bytes::u32le(ref->span(), layout.dataOwner);
        if (ref->bytes[0] != 0x01 || ref->bytes[1] != 0x01 || owner != t_.tdefPage.value) {
            damage("owned_page_not_data", "a página está no mapa da tabela mas é do tipo " +
                                              std::to_string(ref->bytes[0]) + " com dono " + std::to_string(owner),
                   pn.value);
            continue;
        }
        std::optional<DataPage> page;
        try {
            page.emplace(ref, layout);
        } catch (const JetError& e) {
            damage("data_page_header", e.what(), pn.value);
            continue;
        }
        checkDataPageLayout(*page);
        if (!layout.jet3 && bytes::u32le(ref->span(), 8) != 0)
            damage("data_page_header", "campo reservado não nulo no cabeçalho da página de dados", pn.value);
        for (std::uint16_t r = 0; r < page->rowCount() && r < 256; ++r) {
            const std::uint16_t slot = page->slot(r);
            if (slot & row_flag::Deleted) continue;
            const RowPointer location(pn, static_cast<std::uint8_t>(r));
            std::span<const std::uint8_t> raw;
            try {
                raw = page->row(r);
            } catch (const JetError& e) {
                damage("row_bounds", e.what(), pn.value, r);
                continue;
            }
            RowPointer dataLocation = location;
            PageRef targetHolder;
            if (slot & row_flag::Overflow) {
                if (raw.size() < 4) {
                    damage("overflow_pointer", "ponteiro de estouro com menos de 4 bytes", pn.value, r);
                    continue;
                }
                const RowPointer target = RowPointer::fromDescriptor(bytes::u32le(raw, 0));
                const std::string targetText =
                    "página " + pageText(target.page) + " linha " + std::to_string(target.row);
                if (!ownedSet_.count(target.page.value)) {
                    damage("overflow_target_page", "a linha foi movida para a " + targetText +
                                                       ", que não pertence à tabela",
                           pn.value, r);
                    continue;
                }
                targetHolder = ctx_.page(target.page, t_.name);
                if (!targetHolder) continue;
                try {
                    DataPage tp(targetHolder, layout);
                    if (tp.owner() != t_.tdefPage.value || target.row >= tp.rowCount()) {
                        damage("overflow_target_missing", "a linha movida não existe na " + targetText, pn.value, r);
                        continue;
                    }
                    const std::uint16_t ts = tp.slot(target.row);
                    if ((ts & row_flag::Deleted) == 0 || (ts & row_flag::Overflow) != 0)
                        damage("overflow_target_flags", "o destino da linha movida (" + targetText +
                                                            ") não está marcado como destino de estouro",
                               pn.value, r);
                    if (!overflowTargets_.insert(target).second)
                        damage("overflow_target_shared", "duas linhas apontam para o mesmo destino (" + targetText + ")",
                               pn.value, r);
                    raw = tp.row(target.row);
                    dataLocation = target;
                } catch (const JetError& e) {
                    damage("overflow_target_unreadable", e.what(), target.page.value, target.row);
                    continue;
                }
            }
            checkRow(location, dataLocation, raw);
        }
    }
}

void TableChecker::checkDataPageLayout(const DataPage& page) {
    const FormatLayout& layout = ctx_.layout();
    const std::uint32_t pn = page.number().value;
    const std::size_t tableEnd = layout.dataRowTable + 2 * std::size_t{page.rowCount()};
    std::size_t previous = layout.pageSize;
    std::size_t used = 0;
    bool consistent = true;
    for (std::uint16_t r = 0; r < page.rowCount(); ++r) {
        const std::uint16_t slot = page.slot(r);
        const std::size_t off = slot & row_flag::OffsetMask;
        if (slot & row_flag::Unknown2000) damage("row_flag_2000", "indicador desconhecido 0x2000 na linha", pn, r);
        if (off > previous || off < tableEnd) {
            damage("row_offsets", "a posição " + std::to_string(off) + " da linha contradiz as linhas vizinhas", pn, r);
            consistent = false;
            break;
        }
        used += previous - off;
        previous = off;
    }
    if (page.rowCount() > 255) damage("row_count_page", "mais de 255 linhas na página", pn);
    if (consistent) {
        const std::size_t computed = layout.pageSize - tableEnd - used;
        if (computed != page.freeSpace())
            damage("data_page_free_space", "o espaço livre registrado (" + std::to_string(page.freeSpace()) +
                                               ") difere do calculado (" + std::to_string(computed) + ")",
                   pn);
    }
}

void TableChecker::checkRow(RowPointer location, RowPointer dataLocation, std::span<const std::uint8_t> raw) {
    const std::uint32_t pn = dataLocation.page.value;
    const int r = dataLocation.row;
    ++liveRows_;
    ++ctx_.report().rowsChecked;
    const ErrorLocation at{.page = pn, .row = r, .table = t_.name};
    try {
        decoder_.split(raw, fields_, at);
    } catch (const JetError& e) {
        damage("row_unreadable", "a linha não pôde ser decomposta: " + std::string(e.what()), pn, r);
        rows_.push_back(location);
        for (IndexState& st : indexes_) st.expected.emplace_back();  // present, key unknown
        return;
    }
    if (fields_.columnCount > t_.maxColumns)
        damage("row_column_count", "a linha diz ter " + std::to_string(fields_.columnCount) +
                                       " colunas, a tabela no máximo " + std::to_string(t_.maxColumns),
               pn, r);
    if (fields_.varCount > t_.varColumnSlots && t_.varColumnSlots > 0)
        damage("row_var_count", "a linha tem " + std::to_string(fields_.varCount) +
                                    " posições variáveis, a tabela no máximo " + std::to_string(t_.varColumnSlots),
               pn, r);

    for (std::size_t i = 0; i < t_.columns.size(); ++i) {
        const Column& c = t_.columns[i];
        const FieldBytes& f = fields_.fields[i];
        if (!f.present || c.isBoolean()) continue;
        checkValue(c, f, dataLocation);
        if (c.isAutonumber() && c.type == column_type::Long && c.isFixed() && f.bytes.size() == 4) {
            const std::int64_t v = bytes::i32le(f.bytes, 0);
            if (!maxAutonumber_ || v > *maxAutonumber_) maxAutonumber_ = v;
        }
    }

    // Expected index keys of this row.
    rows_.push_back(location);
    for (std::size_t k = 0; k < indexes_.size(); ++k) {
        IndexState& st = indexes_[k];
        ExpectedEntry& e = st.expected.emplace_back();
        if (!st.encoder) continue;
        scratch_.resize(st.columnPositions.size());
        bool decoded = true;
        for (std::size_t j = 0; j < st.columnPositions.size(); ++j) {
            const std::size_t pos = st.columnPositions[j];
            try {
                scratch_[j] = ctx_.db().values().decode(t_.columns[pos], fields_.fields[pos], at);
            } catch (const JetError&) {
                decoded = false;  // already reported by checkValue
                scratch_[j] = Value{};
            }
            const bool null = isNull(scratch_[j]) && !t_.columns[pos].isBoolean();
            e.addColumn(null);
        }
        if (!decoded || !verifyIndexKeys_) continue;
        keyScratch_.clear();
        if (std::optional<KeyGap> gap = st.encoder->appendKey(scratch_, keyScratch_)) {
            e.setGap(static_cast<std::uint32_t>(st.gaps.size()));
            st.gaps.push_back(std::move(*gap));
        } else {
            e.setDigest(keyDigest(keyScratch_));
        }
    }
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

std::optional<std::size_t> TableChecker::rowPosition(RowPointer row) const {
    if (!rowIndex_) return std::nullopt;
    const std::uint32_t at = rowIndex_->find(rows_, [](RowPointer p) { return p; }, row);
    if (at == RowSlotIndex::kNone) return std::nullopt;
    return at;
}

void TableChecker::checkValue(const Column& c, const FieldBytes& f, RowPointer at) {
    const std::uint32_t pn = at.page.value;
    const int r = at.row;
    const bool jet3 = ctx_.layout().jet3;
    const auto& b = f.bytes;
    if (c.isCalculated()) return;  // wrapped values, checked by decoding only
    switch (c.type) {
        case column_type::Text: {
            const bool compressed = !jet3 && b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE;
            if (!jet3 && !compressed && b.size() % 2 != 0)
                damage("text_odd_length", "texto Unicode da coluna " + c.name + " com número ímpar de bytes", pn, r);
            if (!compressed && c.length > 0 && b.size() > c.length)
                damage("text_too_long", "texto da coluna " + c.name + " maior que o tamanho da coluna", pn, r);
            break;
        }
        case column_type::Numeric:
            if (c.isFixed() && !b.empty() && b[0] != 0x00 && b[0] != 0x80)
                damage("numeric_sign", "sinal inválido no valor decimal da coluna " + c.name, pn, r);
            break;
        case column_type::ExtendedDateTime: {
            bool ok = b.size() == 42;
            for (std::size_t i = 0; ok && i < 41; ++i) {
                const bool sep = i == 19 || i == 32 || i == 40;
                ok = sep ? (b[i] == ':' || (i == 40 && b[i] == '7') || (i == 32 && b[i] == '.'))
                         : (b[i] >= '0' && b[i] <= '9');
            }
            (void)ok;  // the separator layout is not certain enough to call a mismatch damage
            if (b.size() != 42)
                damage("extended_date_size", "data estendida da coluna " + c.name + " sem 42 bytes", pn, r);
            break;
        }
        case column_type::Memo:
        case column_type::Ole: checkLongValue(c, b, at); return;
        default: break;
    }
}

void TableChecker::checkLongValue(const Column& c, std::span<const std::uint8_t> field, RowPointer at) {
    const std::uint32_t pn = at.page.value;
    const int r = at.row;
    const ErrorLocation where{.page = pn, .row = r, .table = t_.name};
    LongValueDescriptor d;
    try {
        d = LongValueDescriptor::parse(field, where);
    } catch (const JetError&) {
        damage("long_value_descriptor", "o descritor de valor longo da coluna " + c.name + " tem menos de 12 bytes", pn,
               r);
        return;
    }
    using Kind = LongValueDescriptor::Kind;
    if (d.kind == Kind::Invalid) {
        damage("long_value_kind", "tipo de armazenamento inválido no valor longo da coluna " + c.name, pn, r);
        return;
    }
    if (d.kind == Kind::Inline) {
        if (d.length != field.size() - 12)
            damage("long_value_inline_length", "o valor longo em linha da coluna " + c.name +
                                                   " não tem o comprimento que declara",
                   pn, r);
        return;
    }
    if (field.size() != 12)
        damage("long_value_descriptor", "o descritor de valor longo da coluna " + c.name + " não tem 12 bytes", pn, r);
    // Walk the value's LVAL rows without copying its bytes: each row must exist on a
    // long-value page, a chain must end (no cycle) and carry at least the length.
    std::vector<RowPointer>& segments = chainScratch_;
    segments.clear();
    chainVisits_.clear();
    {
        const auto what = [&c] { return "valor longo da coluna " + c.name; };
        std::uint64_t carried = 0;
        RowPointer p = d.pointer;
        const bool chain = d.kind == Kind::Chain;
        for (;;) {
            if (p.page.isNull() || p.page.value >= ctx_.file().pageCount()) {
                damage("long_value_unreadable", what() + ": ponteiro para a página " + pageText(p.page), pn, r);
                break;
            }
            if (!chainVisits_.firstVisit(p)) {
                damage("long_value_unreadable", what() + ": a cadeia de páginas forma um ciclo", pn, r);
                break;
            }
            // Pages of the columns' maps were read before the rows; others (or pages
            // with many rows, whose rows are not kept) are read here.
            const LongValuePageFacts* facts = lvSweep_.find(p.page);
            std::span<const LongValueRowFacts> rows;
            LongValuePageFacts readNow;
            if (facts && facts->rowsKept) {
                rows = std::span<const LongValueRowFacts>(lvSweep_.rows).subspan(facts->firstRow, facts->rowCount);
            } else {
                PageRef ref = ctx_.page(p.page, t_.name);
                if (!ref) break;
                lvRowScratch_.clear();
                readNow = longValuePageFactsOf(*ref, ctx_.layout(), lvRowScratch_, 256);
                facts = &readNow;
                rows = lvRowScratch_;
            }
            const LongValueRowFacts row = p.row < rows.size() ? rows[p.row] : LongValueRowFacts{};
            if (!facts->lval) {
                damage("long_value_page_owner", what() + " está na página " + pageText(p.page) +
                                                    ", que não é de valores longos",
                       pn, r);
                break;
            }
            if (!facts->readable || p.row >= facts->rowCount || row.size == LongValueRowFacts::kUnreadable) {
                damage("long_value_unreadable", what() + ": a linha " + std::to_string(p.row) + " da página " +
                                                    pageText(p.page) + " não existe",
                       pn, r);
                break;
            }
            segments.push_back(p);
            if (!chain) {
                if (row.size < d.length)
                    damage("long_value_unreadable", what() + ": a linha é menor que o valor", pn, r);
                break;
            }
            if (row.size < 4) {
                damage("long_value_unreadable", what() + ": linha da cadeia sem ponteiro", pn, r);
                break;
            }
            carried += row.size - 4;
            if (carried >= d.length) break;
            p = RowPointer::fromDescriptor(row.next);
        }
    }
    auto claimantIt = lvClaimants_.find(c.number);
    std::uint32_t claimant;
    if (claimantIt == lvClaimants_.end()) {
        claimant = ctx_.claims().addClaimant("os valores longos da coluna " + c.name + " da tabela " + t_.name);
        lvClaimants_[c.number] = claimant;
    } else {
        claimant = claimantIt->second;
    }
    const auto mapIt = lvMaps_.find(c.number);
    for (const RowPointer& s : segments) {
        lvalRowsUsed_.push_back({s, at});
        if (mapIt != lvMaps_.end() && mapIt->second && !mapIt->second->contains(s.page))
            damage("long_value_page_unmapped", "a página " + pageText(s.page) + " do valor longo da coluna " +
                                                   c.name + " não está no mapa da coluna",
                   pn, r);
        ctx_.claim(s.page, claimant, t_.name);
    }
}

// Every page of the columns' long-value maps, read once in file order (a walk of
// every value's chain would otherwise read pages in the order the rows point).
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
        for (PageNumber p : map->pages()) {
            if (!ctx_.claim(p, claimant, t_.name)) continue;
            // Rows nobody references: leaked long values (deleted ones are flagged and empty).
            const auto countOrphans = [&](const std::array<std::uint64_t, 4>& live) {
                // The uses of this page's rows, in row order, met by one cursor.
                auto use = std::lower_bound(lvalRowsUsed_.begin(), lvalRowsUsed_.end(), RowPointer(p, 0),
                                            [](const LongValueUse& u, const RowPointer& x) { return u.segment < x; });
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
                             std::to_string(orphans) + " linhas de valores longos sem referência", p.value, t_.name);
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
                damage("data_page_header", e.what(), p.value);
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

    if (!ctx_.readAhead() || !ctx_.readAhead()->takeTree(ix.rootPage, t_.tdefPage, tree_))
        walkTableIndex(ctx_.file(), ctx_.layout().jet3, ix.rootPage, t_.tdefPage, tree_);
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
        indexDamage("index_structure", "estrutura da árvore do índice: " + f.detail, f.page.value);
    }
    if (map) {
        std::set<std::uint32_t> mapPages;
        for (PageNumber p : map->pages()) mapPages.insert(p.value);
        if (mapPages != treePages)
            indexDamage("index_map_mismatch", "o mapa do índice não lista exatamente as páginas da árvore",
                        ix.rootPage.value);
    }

    std::size_t unverified = 0;
    std::size_t hint = 0;
    std::optional<KeyGap> firstGap;
    std::size_t distinct = 0;
    std::optional<std::span<const std::uint8_t>> previousKey;
    bool previousNull = false;
    const auto sameKey = [](std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    };
    for (const IndexTreeEntry& e : tree.entries) {
        const std::span<const std::uint8_t> entryKey = tree.key(e);
        if (!previousKey || !sameKey(*previousKey, entryKey)) ++distinct;
        // Entries often follow the rows' order (a key the rows were added by): try
        // the row after the previous one before searching.
        std::optional<std::size_t> position;
        if (hint < rows_.size() && rows_[hint] == e.row) position = hint;
        else position = rowPosition(e.row);
        if (position) hint = *position + 1;
        if (!position || *position >= st.expected.size()) {
            indexDamage("index_entry_dead_row", "entrada do índice aponta para a página " + pageText(e.row.page) +
                                                    " linha " + std::to_string(e.row.row) +
                                                    ", que não é uma linha viva da tabela",
                        e.leaf.value);
            previousKey = entryKey;
            previousNull = false;
            continue;
        }
        ExpectedEntry& x = st.expected[*position];
        if (x.seen())
            indexDamage("index_row_twice", "a linha aparece duas vezes no índice", e.row.page.value, e.row.row);
        x.setSeen();
        if (x.encoded()) {
            if (!x.sameKey(keyDigest(entryKey)))
                indexDamage("index_key_mismatch", "a chave do índice não corresponde aos valores da linha",
                            e.row.page.value, e.row.row);
        } else if (x.gap() != kNoGap) {
            ++unverified;
            if (!firstGap) firstGap = st.gaps[x.gap()];
        }
        if (ix.isUnique() && previousKey && sameKey(*previousKey, entryKey) && !x.anyNull() && !previousNull)
            indexDamage("index_unique_violation", "valor repetido num índice único", e.row.page.value, e.row.row);
        if (ix.isRequired() && x.anyNull() && x.encoded())
            indexDamage("index_required_null", "valor nulo num índice que não admite nulos", e.row.page.value,
                        e.row.row);
        previousKey = entryKey;
        previousNull = x.anyNull();
    }
    std::size_t missing = 0;
    for (std::size_t i = 0; i < st.expected.size(); ++i) {
        const ExpectedEntry& x = st.expected[i];
        if (x.seen()) continue;
        if (ix.ignoresNulls() && x.allNull()) continue;
        if (++missing <= 20)
            indexDamage("index_row_missing", "a linha não está no índice", rows_[i].page.value, rows_[i].row);
    }
    if (missing > 20)
        indexDamage("index_row_missing", std::to_string(missing - 20) + " outras linhas também faltam no índice",
                    std::nullopt);
    if (unverified > 0) {
        std::string why = firstGap ? keyGapReasonName(firstGap->reason) : std::string("?");
        if (firstGap && firstGap->reason == KeyGapReason::UnsupportedCharacter)
            why += " (caractere " + std::to_string(firstGap->character) + ")";
        ctx_.add(Finding{FindingClass::Unverified, "index_key_unverifiable",
                         "não foi possível verificar a chave de " + std::to_string(unverified) +
                             " entradas: a ordem de classificação não codifica um caractere ou tipo (" + why + ")",
                         ix.rootPage.value, std::nullopt, std::nullopt, t_.name, name, std::nullopt});
    }
    if (distinct != ix.distinctKeys) {
        ctx_.add(Finding{FindingClass::StaleStatistic, "index_distinct_stale",
                         "o índice registra " + std::to_string(ix.distinctKeys) + " chaves distintas, mas tem " +
                             std::to_string(distinct),
                         t_.tdefPage.value, std::nullopt,
                         ctx_.layout().tdefHeaderEnd + ix.number * ctx_.layout().indexStatisticsSize + 4, t_.name,
                         name, static_cast<std::int64_t>(distinct)});
    }
}

// ---------------------------------------------------------------- statistics

void TableChecker::checkStatistics() {
    if (owned_ && liveRows_ != t_.rowCount) {
        Finding f{FindingClass::StaleStatistic, "row_count_stale",
                  "a definição registra " + std::to_string(t_.rowCount) + " linhas, mas a tabela tem " +
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
