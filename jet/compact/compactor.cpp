#include "jet/compact/compactor.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "jet/check/checker.h"
#include "jet/compact/output_file.h"
#include "jet/compact/salvage_plan.h"
#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"
#include "jet/index/index_builder.h"
#include "jet/index/index_tree.h"
#include "jet/index/key_encoder.h"
#include "jet/index/row_slot_index.h"
#include "jet/table/data_page.h"
#include "jet/table/data_page_builder.h"
#include "jet/table/database.h"
#include "jet/table/long_value_reader.h"
#include "jet/table/row_decoder.h"
#include "jet/table/row_encoder.h"
#include "jet/table/salvage_cursor.h"
#include "jet/table/table_definition_writer.h"
#include "jet/table/usage_map_writer.h"

namespace jet {

namespace {

constexpr std::uint32_t kGlobalMapOwner = 1;
constexpr PageNumber kGlobalMapPage{1};
constexpr PageNumber kCatalogMapsPage{6};

// The columns that hold catalog Ids, which are TDEF page numbers for tables.
struct IdColumnName {
    std::string_view table;
    std::string_view column;
};
constexpr IdColumnName kIdColumns[] = {
    {"MSysObjects", "Id"},
    {"MSysACEs", "ObjectId"},
    {"MSysNavPaneObjectIDs", "Id"},
    {"MSysNavPaneGroupToObjects", "ObjectID"},
    {"MSysNavPaneGroups", "ObjectID"},
    {"MSysNavPaneGroupCategories", "SelectedObjectID"},
    {"MSysComplexColumns", "ComplexTypeObjectID"},
    {"MSysComplexColumns", "FlatTableID"},
    {"MSysComplexColumns", "ConceptualTableID"},
};

// The system tables whose definitions stay on fixed pages, in page order from 2.
constexpr std::string_view kFixedTables[] = {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"};


JetError refusal(const std::string& userMessage, const std::string& detail, const ErrorLocation& where = {}) {
    return JetError(ErrorKind::Corruption, userMessage, detail, where);
}

// An index entry of the source before its row has a new place. Its key lies in
// the shared buffer of its SourceEntries: one allocation per index, not per key.
struct SourceEntry {
    std::size_t keyOffset = 0;
    std::uint32_t keyLength = 0;
    std::uint32_t record = 0;  // index into the table's records
};

struct SourceEntries {
    ByteArena keyBytes;
    BulkVector<SourceEntry> entries;

    std::span<const std::uint8_t> key(const SourceEntry& e) const {
        return std::span<const std::uint8_t>(keyBytes).subspan(e.keyOffset, e.keyLength);
    }
};

// Where a long value written from memory (a cut Memo, or one that shared its rows
// with another value) now is, by record and column.
struct RewrittenLongValue {
    RowPointer pointer;
    std::uint32_t length = 0;
    bool singleRow = false;
};
using RewrittenValues = std::unordered_map<std::uint64_t, RewrittenLongValue>;
constexpr std::uint64_t rewrittenKey(std::uint32_t record, std::size_t column) {
    return (std::uint64_t{record} << 16) | column;
}

struct MapSlot {
    UsageMapContent content;
    RowPointer location;  // where its row ends up
};

struct TableWork {
    const TableDefinition* definition = nullptr;
    PageNumber oldId;
    std::vector<PageNumber> newPages;
    std::unique_ptr<TableDefinitionWriter> writer;
    std::vector<std::size_t> idColumns;  // positions in definition->columns
    std::size_t ownedMap = 0;
    std::size_t freeMap = 0;
    std::vector<std::size_t> indexMaps;
    std::vector<PageNumber> indexRoots;
    std::vector<std::pair<std::size_t, std::size_t>> longValueMaps;
    std::uint64_t rows = 0;
    SalvageTable* salvage = nullptr;  // salvage: the rows read before anything is written

    PageNumber newId() const { return newPages.front(); }
};

// Reads rows of the source by their data location, keeping the last page.
class RowSource {
public:
    // `newRows`: the rows a salvage writes itself, found at kNewRowPage + position.
    RowSource(PageFile& file, const FormatLayout& layout, const SalvageTable* salvage = nullptr)
        : file_(file), layout_(layout), newRows_(salvage ? &salvage->newRows : nullptr) {}

    std::span<const std::uint8_t> row(RowPointer p, const std::string& table) {
        if (newRows_ && p.page.value >= kNewRowPage) return newRows_->at(p.page.value - kNewRowPage);
        if (!page_ || page_->number() != p.page) {
            if (p.page.value >= file_.pageCount())
                throw refusal("Uma linha aponta para além do fim do arquivo", "row pointer beyond the file",
                              ErrorLocation{.page = p.page.value, .row = p.row, .table = table});
            page_.emplace(file_.page(p.page), layout_);
        }
        return page_->row(p.row);
    }

private:
    PageFile& file_;
    const FormatLayout& layout_;
    const std::vector<std::vector<std::uint8_t>>* newRows_;
    std::optional<DataPage> page_;
};

// Salvage: the row with every long value that could not be read at all made
// NULL, re-encoded in the row's own shape.
void nullDamagedValues(const TableDefinition& def, const FormatLayout& layout,
                       const std::vector<DamagedLongValue>& damaged, std::vector<std::uint8_t>& raw,
                       const ErrorLocation& where) {
    if (std::none_of(damaged.begin(), damaged.end(), [](const DamagedLongValue& d) { return d.nulled; })) return;
    const RowDecoder decoder(def, layout);
    RowFields fields;
    const std::vector<std::uint8_t> row = raw;
    decoder.split(row, fields, where);
    for (const DamagedLongValue& d : damaged)
        if (d.nulled) fields.fields.at(d.column) = FieldBytes{};
    RowEncoder(def, layout).encode(fields.fields, RowShape{fields.columnCount, fields.varCount}, raw);
}

// The last 512 bytes of page 0 hold a two-byte slot per user Jet may have had in
// the file (slot 0 for an exclusive open, 1 to 255 shared); a user whose writing
// was cut short leaves a mark there that sends the next user to a repair. Slots
// 2 to 255 read 00 01 in every file seen; the repaired file, which nobody has
// open, gets that in any slot that differs. Slots 0 and 1 vary in sound files
// and are kept.
void clearSharedUserSlots(std::vector<std::uint8_t>& page0) {
    const std::size_t table = page0.size() - 512;
    for (std::size_t slot = 2; slot < 256; ++slot) {
        page0[table + 2 * slot] = 0x00;
        page0[table + 2 * slot + 1] = 0x01;
    }
}

class Compactor {
public:
    Compactor(const std::string& source, const std::string& destination, const CompactOptions& options)
        : source_(source), destination_(destination), options_(options) {}

    // `write` false: every page is laid out as it would be, and none written.
    CompactResult run(bool write = true);

private:
    void report(const std::string& phase, std::uint64_t done, std::uint64_t total) const {
        if (options_.progress) options_.progress(phase, done, total);
    }
    void prepareTables();
    void assignDefinitionPages();
    void copyTable(TableWork& t);
    std::vector<std::uint32_t> outputOrder(TableWork& t, const std::vector<RowRecord>& records,
                                           std::optional<std::pair<std::size_t, SourceEntries>>& primary);
    SourceEntries sourceEntries(TableWork& t, const PhysicalIndex& index, const std::vector<RowRecord>& records,
                                const std::vector<std::uint32_t>* order);
    bool indexUsesIds(const TableWork& t, const PhysicalIndex& index) const;
    void copyLongValues(TableWork& t, const std::vector<RowRecord>& records, const std::vector<std::uint32_t>& order,
                        const DamagedValues& damaged, std::unordered_map<RowPointer, RowPointer>& moved,
                        RewrittenValues& rewritten);

    void placeMaps();
    void writeDefinitions();
    void writeGlobalMap();
    void verify(const CompactResult& result);
    // The Id a value of an Id column gets. A value naming no table of the source
    // (a navigation-pane row of a deleted object: Access leaves them) stays as it
    // is, unless a table of the output now sits on that page: it would then name
    // that table. It moves instead above every page a Jet file can have (2 GB of
    // 4 KB pages is 2^19), to a value that still names nothing, one per old value.
    std::optional<PageNumber> mapId(PageNumber old) const {
        auto it = idMap_.find(old.value);
        if (it != idMap_.end()) return PageNumber(it->second);
        if (newIds_.count(old.value)) return PageNumber(kDanglingIdBase + old.value);
        return std::nullopt;
    }
    static constexpr std::uint32_t kDanglingIdBase = 0x00F00000u;
    std::size_t addMap(std::vector<PageNumber> pages) {
        maps_.push_back(MapSlot{UsageMapContent{std::move(pages), 0}, {}});
        return maps_.size() - 1;
    }
    void writePage(PageNumber n, std::span<const std::uint8_t> page) {
        if (out_) out_->writePage(n, page);
    }

    std::string source_;
    std::string destination_;
    CompactOptions options_;
    std::unique_ptr<Database> db_;
    FormatLayout layout_;
    std::unique_ptr<OutputFile> out_;
    std::vector<TableWork> tables_;
    std::unordered_map<std::uint32_t, std::uint32_t> idMap_;  // old table Id -> new
    std::unordered_set<std::uint32_t> newIds_;                // every new table Id
    std::vector<MapSlot> maps_;
    std::uint32_t nextPage_ = 0;
    std::uint64_t rowsCopied_ = 0;
    // Buffers reused from one index to the next: fresh memory is slow to fault in,
    // and a large index would otherwise allocate its size several times over.
    IndexTree walked_;
    SourceEntries spareEntries_;
    std::vector<IndexBuildEntry> buildEntries_;
    std::unordered_map<std::string, std::uint64_t> sourceRowCounts_;
    SalvagePlan salvage_;
};

void Compactor::prepareTables() {
    const auto addTable = [this](const TableDefinition& definition, PageNumber oldId, SalvageTable* salvage) {
        TableWork t;
        t.definition = &definition;
        t.oldId = oldId;
        t.salvage = salvage;
        t.writer = std::make_unique<TableDefinitionWriter>(definition, layout_);
        for (const IdColumnName& id : kIdColumns) {
            if (!sameObjectName(id.table, definition.name)) continue;
            for (std::size_t c = 0; c < definition.columns.size(); ++c) {
                const Column& col = definition.columns[c];
                if (sameObjectName(col.name, id.column) && col.type == column_type::Long) t.idColumns.push_back(c);
            }
        }
        tables_.push_back(std::move(t));
    };
    if (options_.salvage) {
        salvage_ = planSalvage(*db_);
        for (SalvageTable& s : salvage_.tables) addTable(*s.definition, s.oldId, &s);
    } else {
        for (const TableEntry& entry : db_->tables()) {
            if (!entry.definition)
                throw refusal("A definição da tabela " + entry.name() + " está danificada: " + entry.definitionError,
                              "table definition unreadable", ErrorLocation{.table = entry.name()});
            addTable(*entry.definition, entry.definition->tdefPage, nullptr);
        }
    }
    std::sort(tables_.begin(), tables_.end(),
              [](const TableWork& a, const TableWork& b) { return a.oldId < b.oldId; });
    std::unordered_set<std::uint32_t> seen;
    for (const TableWork& t : tables_)
        if (!seen.insert(t.oldId.value).second)
            throw refusal("Duas tabelas do catálogo usam a mesma definição (página " +
                              std::to_string(t.oldId.value) + ")",
                          "two catalog rows share a TDEF page");
}

void Compactor::assignDefinitionPages() {
    // Pages 2..5 hold the fixed system tables, 6 the catalog's usage maps, the
    // rest of the definitions follow in the order of their old pages.
    std::vector<TableWork*> fixed(std::size(kFixedTables), nullptr);
    for (TableWork& t : tables_)
        for (std::size_t i = 0; i < std::size(kFixedTables); ++i)
            if (sameObjectName(t.definition->name, kFixedTables[i]) && !fixed[i]) fixed[i] = &t;
    for (std::size_t i = 0; i < fixed.size(); ++i)
        if (!fixed[i])
            throw refusal("A tabela de sistema " + std::string(kFixedTables[i]) + " não foi encontrada",
                          "missing core system table");
    for (std::size_t i = 0; i < fixed.size(); ++i) fixed[i]->newPages.push_back(PageNumber(2 + std::uint32_t(i)));
    nextPage_ = 7;
    for (TableWork& t : tables_) {
        const std::size_t count = t.writer->pageCount();
        while (t.newPages.size() < count) t.newPages.push_back(PageNumber(nextPage_++));
        idMap_[t.oldId.value] = t.newId().value;
        newIds_.insert(t.newId().value);
    }
}

bool Compactor::indexUsesIds(const TableWork& t, const PhysicalIndex& index) const {
    for (const IndexColumn& ic : index.columns)
        for (std::size_t c : t.idColumns)
            if (t.definition->columns[c].number == ic.columnNumber) return true;
    return false;
}

// The entries of a source index, each tied to a row. Indexes over Id columns get
// their keys encoded again from the rows with the new Ids (in `order` when given),
// and so does every index when they are all rebuilt; any other index keeps its
// stored key bytes.
SourceEntries Compactor::sourceEntries(TableWork& t, const PhysicalIndex& index,
                                       const std::vector<RowRecord>& records,
                                       const std::vector<std::uint32_t>* order) {
    const TableDefinition& def = *t.definition;
    SourceEntries result = std::move(spareEntries_);
    result.entries.clear();
    result.keyBytes.clear();
    BulkVector<SourceEntry>& entries = result.entries;
    const ErrorLocation at{.page = index.rootPage.value, .table = def.name, .structure = "índice"};
    if (options_.rebuildIndexes || indexUsesIds(t, index)) {
        KeyEncoder encoder(def, index, db_->header().version);
        RowDecoder decoder(def, layout_);
        RowSource rows(db_->file(), layout_, t.salvage);
        RowFields fields;
        std::vector<std::size_t> columnPositions;
        for (const IndexColumn& ic : index.columns) {
            const Column* col = def.columnByNumber(ic.columnNumber);
            if (!col) throw refusal("Um índice da tabela " + def.name + " usa uma coluna inexistente",
                                    "index column missing", at);
            columnPositions.push_back(static_cast<std::size_t>(col - def.columns.data()));
        }
        std::vector<Value> values(columnPositions.size());
        ErrorLocation where{.table = def.name};  // one copy of the name, not one a row
        for (std::size_t k = 0; k < records.size(); ++k) {
            const std::uint32_t r = order ? (*order)[k] : static_cast<std::uint32_t>(k);
            where.page = records[r].data.page.value;
            where.row = records[r].data.row;
            decoder.split(rows.row(records[r].data, def.name), fields, where);
            bool allNull = true;
            for (std::size_t i = 0; i < columnPositions.size(); ++i) {
                const std::size_t pos = columnPositions[i];
                values[i] = db_->values().decode(def.columns[pos], fields.fields[pos], where);
                if (auto* v = std::get_if<std::int32_t>(&values[i]);
                    v && std::find(t.idColumns.begin(), t.idColumns.end(), pos) != t.idColumns.end() && *v > 0)
                    if (auto mapped = mapId(PageNumber(static_cast<std::uint32_t>(*v))))
                        values[i] = static_cast<std::int32_t>(mapped->value);
                if (!isNull(values[i])) allNull = false;
            }
            if (allNull && index.ignoresNulls()) continue;
            const std::size_t start = result.keyBytes.size();
            if (const std::optional<KeyGap> gap = encoder.appendKey(values, result.keyBytes))
                throw JetError(ErrorKind::Unsupported,
                               "Não foi possível montar de novo uma chave do índice da tabela " + def.name,
                               "key gap: " + gap->detail, where);
            entries.push_back(
                SourceEntry{start, static_cast<std::uint32_t>(result.keyBytes.size() - start), r});
        }
        return result;
    }

    IndexTreeWalker walker(
        [this](PageNumber p) {
            if (p.value >= db_->pageCount())
                throw refusal("Um índice aponta para além do fim do arquivo", "index page beyond the file",
                              ErrorLocation{.page = p.value, .structure = "índice"});
            PageRef ref = db_->file().page(p);
            return IndexPageData{ref, ref->span()};
        },
        IndexPageLayout::forVersion(layout_.jet3), db_->pageCount());
    walker.walk(index.rootPage, def.tdefPage, walked_);
    std::vector<bool> seen(records.size(), false);
    entries.reserve(walked_.entries.size());
    const auto slotOf = [](const RowRecord& record) { return record.location; };
    const RowSlotIndex lookup(records, slotOf);
    std::uint32_t next = 0;  // entries often follow the rows' order: try the next row first
    for (const IndexTreeEntry& e : walked_.entries) {
        const std::uint32_t r =
            next < records.size() && records[next].location == e.row ? next : lookup.find(records, slotOf, e.row);
        if (r == RowSlotIndex::kNone)
            throw refusal("Um índice da tabela " + def.name + " aponta para uma linha que não existe; repare o banco",
                          "index entry points to no live row", ErrorLocation{.page = e.leaf.value, .table = def.name,
                                                                          .structure = "índice"});
        if (seen[r])
            throw refusal("Um índice da tabela " + def.name + " lista a mesma linha duas vezes; repare o banco",
                          "index lists a row twice", ErrorLocation{.page = e.leaf.value, .table = def.name,
                                                                   .structure = "índice"});
        seen[r] = true;
        next = r + 1;
        entries.push_back(SourceEntry{e.keyOffset, e.keyLength, r});
    }
    // The tree's entries index into its key buffer: take it over as it is (the
    // walker gets the spare buffer for its next walk).
    std::swap(result.keyBytes, walked_.keyBytes);
    if (!index.ignoresNulls() && entries.size() != records.size())
        throw refusal("Um índice da tabela " + def.name + " não lista todas as linhas; repare o banco",
                      "index has " + std::to_string(entries.size()) + " entries for " +
                          std::to_string(records.size()) + " rows",
                      at);
    return result;
}

// Rows in primary-key order when the table has a primary key, otherwise (and for
// rows the key does not list) in their physical order.
std::vector<std::uint32_t> Compactor::outputOrder(
    TableWork& t, const std::vector<RowRecord>& records,
    std::optional<std::pair<std::size_t, SourceEntries>>& primaryEntries) {
    std::vector<std::uint32_t> order;
    order.reserve(records.size());
    const TableDefinition& def = *t.definition;
    const LogicalIndex* primary = nullptr;
    for (const LogicalIndex& li : def.logicalIndexes)
        if (li.kind == LogicalIndexKind::PrimaryKey && li.physicalIndex < def.physicalIndexes.size()) {
            primary = &li;
            break;
        }
    if (primary && !records.empty()) {
        SourceEntries entries = sourceEntries(t, def.physicalIndexes[primary->physicalIndex], records, nullptr);
        std::stable_sort(entries.entries.begin(), entries.entries.end(),
                         [&entries](const SourceEntry& a, const SourceEntry& b) {
                             const int c = compareKeyBytes(entries.key(a), entries.key(b));
                             return c != 0 ? c < 0 : a.record < b.record;
                         });
        std::vector<bool> placed(records.size(), false);
        for (const SourceEntry& e : entries.entries) {
            if (placed[e.record]) continue;
            placed[e.record] = true;
            order.push_back(e.record);
        }
        for (std::uint32_t r = 0; r < records.size(); ++r)
            if (!placed[r]) order.push_back(r);
        // Kept for rebuilding the same index later: the entries do not depend on the order.
        primaryEntries.emplace(primary->physicalIndex, std::move(entries));
        return order;
    }
    for (std::uint32_t r = 0; r < records.size(); ++r) order.push_back(r);
    return order;
}

// Long values go before the table's rows: each Memo/OLE column gets pages of
// single-row values, and chains with one full chunk per page, in row order. A
// salvage writes a damaged value's readable part from memory (and a value whose
// rows another value uses too, so that each has its own), and skips one that
// becomes NULL.
void Compactor::copyLongValues(TableWork& t, const std::vector<RowRecord>& records,
                               const std::vector<std::uint32_t>& order, const DamagedValues& damaged,
                               std::unordered_map<RowPointer, RowPointer>& moved, RewrittenValues& rewritten) {
    const TableDefinition& def = *t.definition;
    struct ColumnState {
        std::size_t position = 0;
        std::unique_ptr<DataPageBuilder> singles;
        PageNumber singlesPage;
        std::vector<PageNumber> owned;
        std::vector<PageNumber> free;
    };
    std::vector<ColumnState> columns;
    for (const LongValueMaps& m : def.longValueMaps) {
        ColumnState s;
        const Column* col = def.columnByNumber(m.columnNumber);
        s.position = col ? static_cast<std::size_t>(col - def.columns.data()) : SIZE_MAX;
        s.singles = std::make_unique<DataPageBuilder>(layout_, kLongValueOwner);
        columns.push_back(std::move(s));
    }
    auto flushSingles = [&](ColumnState& s) {
        if (s.singles->empty()) return;
        if (s.singles->freeSpace() >= layout_.pageSize / 8) s.free.push_back(s.singlesPage);
        writePage(s.singlesPage, s.singles->finished());
        s.singles->clear();
    };

    if (!columns.empty() && !records.empty()) {
        RowDecoder decoder(def, layout_);
        RowSource rows(db_->file(), layout_, t.salvage);
        LongValueReader reader(db_->file(), layout_);
        RowFields fields;
        const std::size_t chunk = layout_.longValueChunkData;
        // One buffer for every single-row value, one page for chains: no allocation per value.
        std::vector<std::uint8_t> value;
        DataPageBuilder chainPage(layout_, kLongValueOwner);
        ErrorLocation where{.table = def.name};  // one copy of the name, not one a row
        using Feed = std::function<void(const std::function<void(std::span<const std::uint8_t>)>&)>;
        auto addSingle = [&](ColumnState& s, std::span<const std::uint8_t> bytesOfValue) {
            if (bytesOfValue.size() > DataPageBuilder::maxRowLength(layout_))
                throw refusal("Um valor longo da tabela " + def.name + " é maior que uma página",
                              "single-row long value too large", where);
            if (!s.singles->fits(bytesOfValue.size())) flushSingles(s);
            if (s.singles->empty()) {
                s.singlesPage = PageNumber(nextPage_++);
                s.owned.push_back(s.singlesPage);
            }
            return RowPointer(s.singlesPage, s.singles->add(bytesOfValue));
        };
        // The value's bytes, as `feed` gives them, go straight into full-chunk pages,
        // whatever size the rows they came from had, without assembling the value.
        auto addChain = [&](ColumnState& s, std::size_t length, std::uint32_t word08, const Feed& feed) {
            const std::size_t pages = length == 0 ? 1 : (length + chunk - 1) / chunk;
            const std::uint32_t first = nextPage_;
            nextPage_ += static_cast<std::uint32_t>(pages);
            std::size_t i = 0;                 // chunk being filled
            std::span<std::uint8_t> chunkData;  // its data bytes on the page
            std::size_t filled = 0;
            auto startChunk = [&] {
                const std::size_t n = std::min(chunk, length - i * chunk);
                chainPage.clear();
                if (i == 0) chainPage.setHeaderWord08(word08);
                const std::span<std::uint8_t> row = chainPage.addBlank(4 + n);
                const RowPointer nextChunk =
                    i + 1 < pages ? RowPointer(PageNumber(first + std::uint32_t(i) + 1), 0) : RowPointer();
                bytes::putU32le(row, 0, nextChunk.toDescriptor());
                chunkData = row.subspan(4);
                filled = 0;
            };
            auto endChunk = [&] {
                const PageNumber number(first + std::uint32_t(i));
                writePage(number, chainPage.finished());
                s.owned.push_back(number);
            };
            startChunk();
            feed([&](std::span<const std::uint8_t> piece) {
                while (!piece.empty()) {
                    if (filled == chunkData.size()) {
                        if (i + 1 >= pages)
                            throw JetError(ErrorKind::InvalidArgument, "Erro interno ao copiar um valor longo",
                                           "long value longer than its descriptor");
                        endChunk();
                        ++i;
                        startChunk();
                    }
                    const std::size_t take = std::min(piece.size(), chunkData.size() - filled);
                    std::copy(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(take),
                              chunkData.begin() + static_cast<std::ptrdiff_t>(filled));
                    filled += take;
                    piece = piece.subspan(take);
                }
            });
            if (i + 1 != pages || filled != chunkData.size())
                throw JetError(ErrorKind::InvalidArgument, "Erro interno ao copiar um valor longo",
                               "long value shorter than its descriptor");
            endChunk();
            return RowPointer(PageNumber(first), 0);
        };
        auto addFromMemory = [&](ColumnState& s, std::uint32_t r, std::span<const std::uint8_t> field,
                                 std::span<const std::uint8_t> content) {
            RewrittenLongValue placed;
            placed.length = static_cast<std::uint32_t>(content.size());
            placed.singleRow = content.size() <= DataPageBuilder::maxRowLength(layout_);
            if (placed.singleRow) {
                placed.pointer = addSingle(s, content);
            } else {
                const std::uint32_t word08 = field.size() >= 12 ? bytes::u32le(field, 8) : 0;
                placed.pointer = addChain(s, content.size(), word08, [&](const auto& sink) { sink(content); });
            }
            rewritten[rewrittenKey(r, s.position)] = placed;
        };
        for (std::uint32_t r : order) {
            where.page = records[r].data.page.value;
            where.row = records[r].data.row;
            decoder.split(rows.row(records[r].data, def.name), fields, where);
            const std::vector<DamagedLongValue>* hurt = nullptr;
            if (!damaged.empty())
                if (auto it = damaged.find(records[r].location); it != damaged.end()) hurt = &it->second;
            for (ColumnState& s : columns) {
                if (s.position >= fields.fields.size()) continue;
                const FieldBytes& f = fields.fields[s.position];
                if (hurt) {
                    const auto d = std::find_if(hurt->begin(), hurt->end(), [&](const DamagedLongValue& v) {
                        return v.column == s.position;
                    });
                    if (d != hurt->end()) {
                        if (!d->nulled) addFromMemory(s, r, f.bytes, d->kept);
                        continue;
                    }
                }
                if (!f.present || f.bytes.size() < 12) continue;
                const std::uint8_t kind = f.bytes[3] & 0xC0;
                if (kind == 0x80) continue;
                const RowPointer old = RowPointer::fromDescriptor(bytes::u32le(f.bytes, 4));
                if (moved.count(old)) {
                    if (!options_.salvage)
                        throw refusal("Dois valores longos da tabela " + def.name +
                                          " usam os mesmos dados; repare o banco",
                                      "long value shared by two descriptors", where);
                    reader.readInto(f.bytes, where, value);
                    addFromMemory(s, r, f.bytes, value);
                    continue;
                }
                if (kind == 0x40) {
                    reader.readInto(f.bytes, where, value);
                    moved[old] = addSingle(s, value);
                } else if (kind == 0x00) {
                    const std::size_t length = LongValueDescriptor::parse(f.bytes, where).length;
                    moved[old] = addChain(s, length, bytes::u32le(f.bytes, 8), [&](const auto& sink) {
                        reader.forEachPart(f.bytes, where, sink);
                    });
                } else {
                    reader.readInto(f.bytes, where, value);  // reports the descriptor's flags
                    throw refusal("Um valor longo da tabela " + def.name + " tem um descritor inválido",
                                  "long value descriptor of kind 0xC0", where);
                }
            }
        }
    }
    for (ColumnState& s : columns) {
        flushSingles(s);
        std::sort(s.owned.begin(), s.owned.end());
        std::sort(s.free.begin(), s.free.end());
        t.longValueMaps.emplace_back(addMap(std::move(s.owned)), addMap(std::move(s.free)));
    }
}

void Compactor::copyTable(TableWork& t) {
    const TableDefinition& def = *t.definition;
    // 1. The live rows, in physical order (sorted by slot), and the AutoNumber maximum.
    std::vector<RowRecord> records;
    std::optional<std::size_t> autonumberColumn;
    for (std::size_t c = 0; c < def.columns.size(); ++c)
        if (def.columns[c].isAutonumber() && def.columns[c].type == column_type::Long) autonumberColumn = c;
    std::int64_t autonumberMax = 0;
    const auto noteAutonumber = [&](const RowFields& fields) {
        if (!autonumberColumn) return;
        const FieldBytes& f = fields.fields[*autonumberColumn];
        if (f.present && f.bytes.size() == 4) autonumberMax = std::max<std::int64_t>(autonumberMax, bytes::i32le(f.bytes, 0));
    };
    DamagedValues damaged;
    if (t.salvage) {
        records = std::move(t.salvage->records);
        damaged = std::move(t.salvage->damaged);
        autonumberMax = t.salvage->autonumberMax;
    } else {
        TableCursor cursor = db_->cursor(def);
        while (cursor.next()) {
            records.push_back(RowRecord{cursor.location(), cursor.dataLocation()});
            noteAutonumber(cursor.fields());
            if ((records.size() & 0x3FFF) == 0) report("Lendo " + def.name, records.size(), 0);
        }
        // A page the table's map claims that is not one of its data pages would lose its rows.
        if (!cursor.skippedPages().empty())
            throw refusal("A tabela " + def.name + " está danificada: a página " +
                              std::to_string(cursor.skippedPages().front().value) +
                              " do seu mapa de uso não é uma página de dados dela; repare o banco",
                          "owned page is not a data page of the table",
                          ErrorLocation{.page = cursor.skippedPages().front().value, .table = def.name});
    }
    std::sort(records.begin(), records.end(),
              [](const RowRecord& a, const RowRecord& b) { return a.location < b.location; });
    for (std::size_t i = 1; i < records.size(); ++i)
        if (records[i].location == records[i - 1].location)
            throw refusal("A tabela " + def.name + " lista a mesma linha duas vezes", "duplicate row slot",
                          ErrorLocation{.page = records[i].location.page.value, .table = def.name});
    t.rows = records.size();
    sourceRowCounts_[def.name] = records.size();

    // 2. Output order, then long values, then the rows themselves.
    std::optional<std::pair<std::size_t, SourceEntries>> primaryEntries;
    const std::vector<std::uint32_t> order = outputOrder(t, records, primaryEntries);
    std::unordered_map<RowPointer, RowPointer> movedLongValues;
    RewrittenValues rewritten;
    copyLongValues(t, records, order, damaged, movedLongValues, rewritten);

    std::vector<RowPointer> newLocation(records.size());
    std::vector<PageNumber> dataPages;
    std::vector<PageNumber> freePages;
    {
        DataPageBuilder page(layout_, t.newId().value);
        PageNumber current;
        auto flush = [&] {
            if (page.empty()) return;
            if (page.freeSpace() >= layout_.pageSize / 8) freePages.push_back(current);
            writePage(current, page.finished());
            page.clear();
        };
        std::vector<std::size_t> longValuePositions;
        for (const LongValueMaps& m : def.longValueMaps)
            if (const Column* col = def.columnByNumber(m.columnNumber))
                longValuePositions.push_back(static_cast<std::size_t>(col - def.columns.data()));
        for (std::size_t c = 0; c < def.columns.size(); ++c)
            if (def.columns[c].isLongValue() &&
                std::find(longValuePositions.begin(), longValuePositions.end(), c) == longValuePositions.end())
                longValuePositions.push_back(c);
        const bool patch = !longValuePositions.empty() || !t.idColumns.empty();
        RowDecoder decoder(def, layout_);
        RowSource rows(db_->file(), layout_, t.salvage);
        RowFields fields;
        std::vector<std::uint8_t> raw;
        std::uint64_t done = 0;
        ErrorLocation where{.table = def.name};  // one copy of the name, not one a row
        for (std::uint32_t r : order) {
            where.page = records[r].data.page.value;
            where.row = records[r].data.row;
            const std::span<const std::uint8_t> source = rows.row(records[r].data, def.name);
            raw.assign(source.begin(), source.end());
            const std::vector<DamagedLongValue>* hurt = nullptr;
            if (!damaged.empty())
                if (auto d = damaged.find(records[r].location); d != damaged.end()) hurt = &d->second;
            const auto nulled = [&](std::size_t c) {
                return hurt && std::any_of(hurt->begin(), hurt->end(),
                                           [c](const DamagedLongValue& v) { return v.column == c && v.nulled; });
            };
            if (patch) {
                decoder.split(source, fields, where);
                for (std::size_t c : longValuePositions) {
                    const FieldBytes& f = fields.fields[c];
                    if (!rewritten.empty())
                        if (auto w = rewritten.find(rewrittenKey(r, c)); w != rewritten.end()) {
                            // Written from memory: a descriptor of its own length and place.
                            const std::size_t off = static_cast<std::size_t>(f.bytes.data() - source.data());
                            bytes::putU32le(raw, off, w->second.length | (w->second.singleRow ? 0x40000000u : 0u));
                            bytes::putU32le(raw, off + 4, w->second.pointer.toDescriptor());
                            continue;
                        }
                    if (!f.present || f.bytes.size() < 12 || (f.bytes[3] & 0xC0) == 0x80 || nulled(c)) continue;
                    const std::size_t off = static_cast<std::size_t>(f.bytes.data() - source.data());
                    const RowPointer old = RowPointer::fromDescriptor(bytes::u32le(f.bytes, 4));
                    auto it = movedLongValues.find(old);
                    if (it == movedLongValues.end())
                        throw refusal("Um valor longo da tabela " + def.name + " não tem mapa de uso; não é possível "
                                      "compactar este banco",
                                      "long value of a column without a long-value map", where);
                    bytes::putU32le(raw, off + 4, it->second.toDescriptor());
                }
                for (std::size_t c : t.idColumns) {
                    const FieldBytes& f = fields.fields[c];
                    if (!f.present || f.bytes.size() != 4) continue;
                    const std::int32_t v = bytes::i32le(f.bytes, 0);
                    if (v <= 0) continue;
                    if (auto mapped = mapId(PageNumber(static_cast<std::uint32_t>(v)))) {
                        const std::size_t off = static_cast<std::size_t>(f.bytes.data() - source.data());
                        bytes::putU32le(raw, off, mapped->value);
                    }
                }
            }
            if (hurt) nullDamagedValues(def, layout_, *hurt, raw, where);
            if (raw.size() > DataPageBuilder::maxRowLength(layout_))
                throw refusal("Uma linha da tabela " + def.name + " é maior que uma página", "row too large", where);
            if (!page.fits(raw.size())) flush();
            if (page.empty()) {
                current = PageNumber(nextPage_++);
                dataPages.push_back(current);
            }
            newLocation[r] = RowPointer(current, page.add(raw));
            if ((++done & 0x3FFF) == 0) report("Copiando " + def.name, done, records.size());
        }
        flush();
    }
    rowsCopied_ += records.size();
    t.ownedMap = addMap(std::move(dataPages));
    t.freeMap = addMap(std::move(freePages));

    // 3. Indexes: entries with their rows' new places, sorted, built as full trees.
    for (std::size_t i = 0; i < def.physicalIndexes.size(); ++i) {
        const PhysicalIndex& index = def.physicalIndexes[i];
        SourceEntries source;  // holds the keys the build entries refer to
        std::vector<IndexBuildEntry>& entries = buildEntries_;
        entries.clear();
        if (!records.empty()) {
            source = primaryEntries && primaryEntries->first == i ? std::move(primaryEntries->second)
                                                                 : sourceEntries(t, index, records, &order);
            entries.reserve(source.entries.size());
            for (const SourceEntry& e : source.entries)
                entries.push_back(IndexBuildEntry{source.key(e), newLocation[e.record]});
        }
        // Entries taken from a tree, or from the primary key the rows were ordered by,
        // usually come in order already: check in one pass before sorting.
        if (!std::is_sorted(entries.begin(), entries.end(), indexEntryLess))
            std::sort(entries.begin(), entries.end(), indexEntryLess);
        std::uint32_t distinct = 0;
        for (std::size_t e = 0; e < entries.size(); ++e)
            if (e == 0 || compareKeyBytes(entries[e - 1].key, entries[e].key) != 0) ++distinct;
        const IndexBuilder builder(IndexPageLayout::forVersion(layout_.jet3), entries);
        const PageNumber first(nextPage_);
        nextPage_ += static_cast<std::uint32_t>(builder.pageCount());
        t.indexRoots.push_back(builder.write(first, t.newId().value,
                                             [this](PageNumber n, std::span<const std::uint8_t> p) { writePage(n, p); }));
        std::vector<PageNumber> pages;
        for (std::uint32_t p = first.value; p < nextPage_; ++p) pages.push_back(PageNumber(p));
        t.indexMaps.push_back(addMap(std::move(pages)));
        t.writer->setIndexStatistics(i, distinct);
        if (source.keyBytes.capacity() + source.entries.capacity() >
            spareEntries_.keyBytes.capacity() + spareEntries_.entries.capacity())
            spareEntries_ = std::move(source);
    }

    t.writer->setRowCount(static_cast<std::uint32_t>(records.size()));
    if (autonumberColumn) t.writer->setAutonumber(static_cast<std::uint32_t>(autonumberMax));
}

void Compactor::placeMaps() {
    const std::size_t maxRow = DataPageBuilder::maxRowLength(layout_);
    const UsageMapWriter writer(layout_, maxRow - 5);
    // The catalog's own two maps live on page 6, as Access keeps them.
    const TableWork& catalog = *std::find_if(tables_.begin(), tables_.end(), [](const TableWork& t) {
        return t.newId() == PageNumber(2);
    });
    std::vector<std::size_t> onPage6 = {catalog.ownedMap, catalog.freeMap};
    std::vector<std::size_t> rest;
    for (std::size_t m = 0; m < maps_.size(); ++m)
        if (m != catalog.ownedMap && m != catalog.freeMap) rest.push_back(m);

    // Host pages: page 6, then as many as the other rows need; bitmap pages after them.
    std::vector<std::pair<PageNumber, std::vector<std::size_t>>> hosts;
    hosts.push_back({kCatalogMapsPage, onPage6});
    {
        DataPageBuilder probe(layout_, 0);
        for (std::size_t m : onPage6) {
            if (!probe.fits(writer.rowLength(maps_[m].content)))
                throw JetError(ErrorKind::Unsupported, "Os mapas de uso do catálogo não cabem em uma página",
                               "catalog usage maps do not fit page 6");
            probe.add(std::vector<std::uint8_t>(writer.rowLength(maps_[m].content)));
        }
        // Page 6 takes further maps while they fit, then new host pages follow.
        std::size_t next = 0;
        while (next < rest.size() && probe.fits(writer.rowLength(maps_[rest[next]].content))) {
            probe.add(std::vector<std::uint8_t>(writer.rowLength(maps_[rest[next]].content)));
            hosts.front().second.push_back(rest[next++]);
        }
        DataPageBuilder host(layout_, 0);
        std::vector<std::size_t> current;
        for (; next < rest.size(); ++next) {
            const std::size_t m = rest[next];
            const std::size_t len = writer.rowLength(maps_[m].content);
            if (!host.fits(len)) {
                hosts.push_back({PageNumber(nextPage_++), current});
                current.clear();
                host.take();
            }
            host.add(std::vector<std::uint8_t>(len));
            current.push_back(m);
        }
        if (!current.empty()) hosts.push_back({PageNumber(nextPage_++), current});
    }
    for (auto& [page, members] : hosts) {
        DataPageBuilder host(layout_, 0);
        for (std::size_t m : members) {
            std::vector<PageNumber> bitmapPages;
            const auto contents = writer.bitmapPageContents(maps_[m].content);
            for (const auto& bitmap : contents) {
                const PageNumber n(nextPage_++);
                writePage(n, bitmap);
                bitmapPages.push_back(n);
            }
            maps_[m].location = RowPointer(page, host.add(writer.encodeRow(maps_[m].content, bitmapPages)));
        }
        writePage(page, host.take());
    }
}

void Compactor::writeDefinitions() {
    for (TableWork& t : tables_) {
        TableDefinitionWriter& w = *t.writer;
        w.setTableMaps(maps_[t.ownedMap].location, maps_[t.freeMap].location);
        for (std::size_t i = 0; i < t.indexMaps.size(); ++i) w.setIndexTree(i, maps_[t.indexMaps[i]].location, t.indexRoots[i]);
        for (std::size_t i = 0; i < t.longValueMaps.size(); ++i)
            w.setLongValueMaps(i, maps_[t.longValueMaps[i].first].location, maps_[t.longValueMaps[i].second].location);
        if (options_.salvage) {
            // A relationship with a table the salvage lost ends with it; its rows stay.
            const TableDefinition& def = *t.definition;
            for (std::size_t i = 0; i < def.logicalIndexes.size(); ++i) {
                const LogicalIndex& li = def.logicalIndexes[i];
                if ((li.foreignKey.side != 0 || li.kind == LogicalIndexKind::ForeignKey) &&
                    !idMap_.count(li.foreignKey.relatedTable.value))
                    w.clearForeignKey(i);
            }
        }
        w.remapRelatedTables([this](PageNumber old) { return mapId(old); });
        const auto pages = w.pages(t.newPages);
        for (std::size_t i = 0; i < pages.size(); ++i) writePage(t.newPages[i], pages[i]);
    }
}

void Compactor::writeGlobalMap() {
    // Row 0: free pages (none inside the file, every page past its end); row 1,
    // of unknown meaning, an all-zero inline map like most files have.
    const std::size_t maxRow = DataPageBuilder::maxRowLength(layout_);
    const std::size_t inlineLimit = (maxRow - 2) / 2 - 5;
    const UsageMapWriter writer(layout_, inlineLimit);
    UsageMapContent content{{}, nextPage_};
    // Bitmap pages of a reference map come at the end; they count as pages too.
    for (int round = 0; round < 4; ++round) {
        const std::uint32_t total = nextPage_ + static_cast<std::uint32_t>(writer.bitmapPageCount(content));
        if (content.setBeyond == total) break;
        content.setBeyond = total;
    }
    std::vector<PageNumber> bitmapPages;
    for (const auto& bitmap : writer.bitmapPageContents(content)) {
        const PageNumber n(nextPage_++);
        writePage(n, bitmap);
        bitmapPages.push_back(n);
    }
    if (nextPage_ != content.setBeyond)
        throw JetError(ErrorKind::InvalidArgument, "Erro interno ao montar o mapa de uso global",
                       "global map size did not settle");
    DataPageBuilder page(layout_, kGlobalMapOwner);
    const std::vector<std::uint8_t> row0 = writer.encodeRow(content, bitmapPages);
    page.add(row0);
    const std::size_t zeroBitmap = writer.isInline(content) ? row0.size() - 5 : writer.minimumInlineBitmap();
    page.add(std::vector<std::uint8_t>(5 + zeroBitmap, 0));
    writePage(kGlobalMapPage, page.take());
}

void Compactor::verify(const CompactResult& result) {
    report("Verificando", 0, result.tables);
    std::unique_ptr<Database> out = Database::open(destination_);
    if (out->tables().size() != tables_.size())
        throw refusal("O banco compactado não tem as mesmas tabelas do original", "table count differs");
    CheckOptions check;
    // Keys copied from the source's trees are checked against the rows: a garbled
    // key would otherwise pass into the copy. Keys the same encoder just built
    // from the rows need no second look.
    check.verifyIndexKeys = !options_.rebuildIndexes;
    std::optional<CheckReport> r;
    // The checker walks every row anyway and counts them; a separate pass with a
    // cursor runs only for a table it could not count (or when it does not run).
    if (options_.checkResult) r = Checker(*out, check).run();
    std::vector<Value> values;
    std::size_t n = 0;
    for (const TableEntry& entry : out->tables()) {
        auto it = sourceRowCounts_.find(entry.name());
        if (it == sourceRowCounts_.end() || !entry.definition)
            throw refusal("O banco compactado não tem a tabela " + entry.name() + " como o original",
                          "table missing or unreadable in the output");
        std::uint64_t rows = 0;
        const std::uint64_t* counted = nullptr;
        if (r)
            if (auto c = r->liveRowsByTable.find(entry.definition->tdefPage.value); c != r->liveRowsByTable.end())
                counted = &c->second;
        if (counted) {
            rows = *counted;
        } else {
            TableCursor cursor = out->cursor(entry);
            // Without the checker nothing else decodes the values: decode them here.
            while (cursor.next()) {
                if (!options_.checkResult) cursor.values(values);
                ++rows;
            }
        }
        if (rows != it->second)
            throw refusal("O banco compactado tem " + std::to_string(rows) + " linhas na tabela " + entry.name() +
                              " em vez de " + std::to_string(it->second),
                          "row count differs after compaction");
        report("Verificando", ++n, result.tables);
    }
    if (r) {
        // Nothing that does not check clean is written. Damage the source shows too
        // (the same kind in the same table) was carried over from it: the message
        // then sends the user to the repair instead of blaming the compaction.
        const auto damage = std::find_if(r->findings.begin(), r->findings.end(),
                                         [](const Finding& f) { return f.kind == FindingClass::Damage; });
        if (damage != r->findings.end()) {
            if (options_.salvage)
                throw refusal("O banco reparado não passou na verificação: " + damage->describe(),
                              "checker found damage in the salvaged output: " + damage->code);
            for (const Finding& g : Checker(*db_, check).run().findings) {
                if (g.kind == FindingClass::Damage && g.code == damage->code && g.table == damage->table)
                    throw refusal("O banco de origem está danificado (" + g.describe() +
                                      "); repare-o antes de compactá-lo",
                                  "source damage carried into the output: " + damage->code);
            }
            throw refusal("O banco compactado não passou na verificação: " + damage->describe(),
                          "checker found damage in the output: " + damage->code);
        }
        if (r->freePages != 0 || r->leakedPages != 0)
            throw refusal("O banco compactado ainda tem páginas livres ou perdidas",
                          "output has free or leaked pages");
    }
}

CompactResult Compactor::run(bool write) {
    report("Abrindo", 0, 0);
    if (options_.salvage) options_.rebuildIndexes = true;  // no tree of a damaged file is trusted
    db_ = options_.salvage ? Database::openForSalvage(source_) : Database::open(source_);
    layout_ = db_->layout();
    const DatabaseHeader& header = db_->header();
    CompactResult result;
    result.sourceBytes = db_->file().fileSize();
    result.sourcePages = db_->pageCount();

    prepareTables();
    assignDefinitionPages();
    if (write)
        out_ = std::make_unique<OutputFile>(destination_, layout_.pageSize, header.isEncoded() ? header.databaseKey : 0);
    // Page 0 as stored: nothing on it refers to pages, and its masked settings stay as they are.
    std::vector<std::uint8_t> page0 = db_->file().readAt(0, layout_.pageSize);
    if (page0.size() != layout_.pageSize) throw refusal("A página 0 está incompleta", "short page 0");
    if (options_.salvage) clearSharedUserSlots(page0);
    writePage(PageNumber(0), page0);

    for (std::size_t i = 0; i < tables_.size(); ++i) {
        report("Copiando tabelas", i, tables_.size());
        copyTable(tables_[i]);
    }
    report("Gravando definições", tables_.size(), tables_.size());
    placeMaps();
    writeDefinitions();
    writeGlobalMap();
    if (out_) out_->finish(nextPage_);

    result.outputPages = nextPage_;
    result.outputBytes = std::uint64_t{nextPage_} * layout_.pageSize;
    result.tables = tables_.size();
    result.rows = rowsCopied_;
    result.losses = salvage_.losses;
    if (!out_) return result;
    verify(result);
    out_->commit();
    return result;
}

}  // namespace

CompactResult compactDatabase(const std::string& source, const std::string& destination,
                              const CompactOptions& options) {
    Compactor compactor(source, destination, options);
    return compactor.run();
}

std::uint32_t compactedPageCount(const std::string& source, const CompactOptions& options) {
    Compactor compactor(source, std::string(), options);
    return compactor.run(false).outputPages;
}

}  // namespace jet
