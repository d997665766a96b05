#include "jet/table/salvage_cursor.h"

#include <algorithm>

#include "jet/format/byte_order.h"
#include "jet/table/usage_map.h"
#include "jet/table/value_rules.h"

namespace jet {

namespace {

bool isDataPageOf(const PageBuffer& p, const FormatLayout& layout, PageNumber table) {
    return p.bytes[0] == 0x01 && bytes::u32le(p.span(), layout.dataOwner) == table.value;
}

// Every data page of the file that names `table` as its owner and that the
// global map does not mark free.
std::vector<PageNumber> pagesNamingTable(PageFile& file, const FormatLayout& layout, const TableDefinition& table) {
    std::optional<UsageMap> freePages;
    try {
        freePages = UsageMap::read(file, layout, RowPointer(PageNumber(1), 0));
    } catch (const JetError&) {
        // Without the global map every page naming the table is taken.
    }
    std::vector<PageNumber> found;
    for (std::uint32_t n = 3; n < file.pageCount(); ++n) {
        const PageNumber p(n);
        if (freePages && freePages->contains(p)) continue;
        try {
            if (isDataPageOf(*file.page(p), layout, table.tdefPage)) found.push_back(p);
        } catch (const JetError&) {
            // A page that cannot be read holds no row anyone can keep.
        }
    }
    return found;
}

}  // namespace

SalvagePages findSalvagePages(PageFile& file, const FormatLayout& layout, const TableDefinition& table) {
    SalvagePages found;
    try {
        found.pages = UsageMap::read(file, layout, table.ownedPagesMap).pages();
    } catch (const JetError&) {
        found.scanned = true;
        found.pages = pagesNamingTable(file, layout, table);
    }
    return found;
}

SalvageCursor::SalvageCursor(PageFile& file, const FormatLayout& layout, ValueDecoder& values,
                             const TableDefinition& table, std::vector<PageNumber> pages)
    : file_(file), layout_(layout), values_(values), table_(table), decoder_(table, layout), pages_(std::move(pages)) {}

SalvageCursor SalvageCursor::overTable(PageFile& file, const FormatLayout& layout, ValueDecoder& values,
                                       const TableDefinition& table) {
    SalvageCursor cursor(file, layout, values, table, findSalvagePages(file, layout, table).pages);
    cursor.expectRows(table.rowCount);
    return cursor;
}

void SalvageCursor::lose(SalvageItem::Kind kind, std::optional<std::uint16_t> row, std::string description,
                         std::string column) {
    SalvageItem item;
    item.kind = kind;
    item.table = table_.name;
    item.page = (kind == SalvageItem::Kind::PageLost || !row) ? pages_[pageIndex_ - 1].value : dataLocation_.page.value;
    item.row = row;
    item.column = std::move(column);
    item.count = kind == SalvageItem::Kind::PageLost ? 0 : 1;
    item.description = std::move(description);
    losses_.push_back(std::move(item));
}

bool SalvageCursor::loadPage() {
    const bool pagesLost = std::any_of(losses_.begin(), losses_.end(),
                                       [](const SalvageItem& i) { return i.kind == SalvageItem::Kind::PageLost; });
    if (pageIndex_ == pages_.size() && !rescanned_ && (mapSuspect_ || (!pagesLost && given_ < expected_))) {
        // A map that lists a sound page of something else, or too few pages for the
        // rows the table holds, may have lost some of the table's pages: they are
        // looked for by their owner too. (A page the map lists that is itself
        // damaged, zeroed say, says nothing against the map, and explains rows
        // missing: that costs no scan of the file.)
        rescanned_ = true;
        const std::unordered_set<PageNumber> listed(pages_.begin(), pages_.end());
        for (PageNumber p : pagesNamingTable(file_, layout_, table_))
            if (!listed.count(p)) pages_.push_back(p);
    }
    while (pageIndex_ < pages_.size()) {
        const PageNumber n = pages_[pageIndex_++];
        try {
            if (n.value >= file_.pageCount()) throwCorruption("page beyond the end of the file");
            PageRef p = file_.page(n);
            if (!isDataPageOf(*p, layout_, table_.tdefPage)) {
                const std::uint8_t type = p->bytes[0];
                if (type >= 0x01 && type <= 0x05 && p->bytes[1] == 0x01) mapSuspect_ = true;
                lose(SalvageItem::Kind::PageLost, std::nullopt,
                     "a página listada no mapa da tabela não é mais uma página de dados dela; as linhas que tinha "
                     "se perderam");
                continue;
            }
            // A page written over another page of the table (a misdirected write)
            // would bring that page's rows back twice.
            const std::string_view content(reinterpret_cast<const char*>(p->bytes.data()), p->bytes.size());
            const auto [copyOf, first] = contents_.emplace(std::hash<std::string_view>{}(content), n);
            if (!first && std::equal(p->bytes.begin(), p->bytes.end(), file_.page(copyOf->second)->bytes.begin())) {
                lose(SalvageItem::Kind::PageLost, std::nullopt,
                     "a página é uma cópia exata da página " + std::to_string(copyOf->second.value) +
                         " da mesma tabela; as linhas dela foram mantidas uma vez só");
                continue;
            }
            page_.emplace(std::move(p), layout_);
        } catch (const JetError& e) {
            lose(SalvageItem::Kind::PageLost, std::nullopt,
                 "a página de dados não pôde ser lida (" + e.userMessage() + "); as linhas que tinha se perderam");
            continue;
        }
        nextRow_ = 0;
        return true;
    }
    page_.reset();
    return false;
}

bool SalvageCursor::follow(std::span<const std::uint8_t>& raw) {
    for (int hops = 0; hops < 8; ++hops) {
        if (raw.size() < 4) return false;
        const RowPointer target = RowPointer::fromDescriptor(bytes::u32le(raw, 0));
        if (target.page.isNull() || target.page.value >= file_.pageCount()) return false;
        targetHolder_ = file_.page(target.page);
        if (!isDataPageOf(*targetHolder_, layout_, table_.tdefPage)) return false;
        DataPage tp(targetHolder_, layout_);
        if (target.row >= tp.rowCount()) return false;
        raw = tp.row(target.row);
        dataLocation_ = target;
        if ((tp.slot(target.row) & row_flag::Overflow) == 0) return overflowTargets_.insert(target).second;
    }
    return false;
}

bool SalvageCursor::next() {
    for (;;) {
        if (!page_ && !loadPage()) return false;
        if (nextRow_ >= page_->rowCount()) {
            page_.reset();
            continue;
        }
        const auto r = static_cast<std::uint16_t>(nextRow_++);
        location_ = RowPointer(page_->number(), static_cast<std::uint8_t>(r));
        dataLocation_ = location_;
        damaged_.clear();
        try {
            const std::uint16_t slot = page_->slot(r);
            if (slot & row_flag::Deleted) continue;
            raw_ = page_->row(r);
            if ((slot & row_flag::Overflow) && !follow(raw_)) {
                dataLocation_ = location_;
                lose(SalvageItem::Kind::RowDropped, r, "a linha foi movida para um lugar que não existe mais");
                continue;
            }
        } catch (const JetError& e) {
            dataLocation_ = location_;
            lose(SalvageItem::Kind::RowDropped, r, "a posição da linha na página não pôde ser lida (" +
                                                       e.userMessage() + ")");
            continue;
        }
        if (std::optional<std::string> problem = rowProblem()) {
            lose(SalvageItem::Kind::RowDropped, dataLocation_.row, std::move(*problem));
            continue;
        }
        for (const DamagedLongValue& d : damaged_) {
            const Column& c = table_.columns[d.column];
            if (d.nulled)
                lose(SalvageItem::Kind::ValueNulled, dataLocation_.row,
                     "o valor longo da coluna " + c.name + " não pôde ser lido inteiro e ficou vazio (NULL)", c.name);
            else
                lose(SalvageItem::Kind::ValueCut, dataLocation_.row,
                     "o texto da coluna " + c.name + " foi mantido até o ponto em que se perdeu (" +
                         std::to_string(d.kept.size()) + " bytes)",
                     c.name);
        }
        ++given_;
        return true;
    }
}

Value SalvageCursor::value(std::size_t index) {
    for (const DamagedLongValue& d : damaged_)
        if (d.column == index) return Value{};
    const ErrorLocation at{.page = dataLocation_.page.value, .row = dataLocation_.row, .table = table_.name};
    return values_.decode(table_.columns.at(index), fields_.fields.at(index), at);
}

std::optional<std::string> SalvageCursor::rowProblem() {
    const ErrorLocation at{.page = dataLocation_.page.value, .row = dataLocation_.row, .table = table_.name};
    try {
        decoder_.split(raw_, fields_, at);
    } catch (const JetError& e) {
        return "a linha não pôde ser decomposta (" + e.userMessage() + ")";
    }
    if (const std::optional<RuleBreak> shape = rowShapeBreak(fields_, table_)) return shape->message;
    for (std::size_t i = 0; i < table_.columns.size(); ++i) {
        const Column& c = table_.columns[i];
        const FieldBytes& f = fields_.fields[i];
        if (!f.present || c.isBoolean()) continue;
        if (c.storesLongValue()) {
            checkLongValue(i);
        } else if (c.isCalculated()) {
            try {
                values_.decode(c, f, at);
            } catch (const JetError& e) {
                return "o valor calculado da coluna " + c.name + " não pôde ser lido (" + e.userMessage() + ")";
            }
        } else if (const std::optional<RuleBreak> broken = storedValueBreak(c, f.bytes, layout_.jet3)) {
            return broken->message;
        }
    }
    return std::nullopt;
}

void SalvageCursor::checkLongValue(std::size_t column) {
    const Column& c = table_.columns[column];
    const std::span<const std::uint8_t> field = fields_.fields[column].bytes;
    // A calculated result carries a wrapper in its bytes: a part of it is no value.
    const bool keepsPart = c.type == column_type::Memo && !c.isCalculated();
    if (longValueDescriptorBreak(c, field)) {
        damaged_.push_back(DamagedLongValue{column, true, {}});
        return;
    }
    longValue_.clear();
    try {
        const ErrorLocation at{.page = dataLocation_.page.value, .row = dataLocation_.row, .table = table_.name};
        values_.longValues().forEachPart(field, at, [&](std::span<const std::uint8_t> piece) {
            if (keepsPart) longValue_.insert(longValue_.end(), piece.begin(), piece.end());
        });
        return;
    } catch (const JetError&) {
        // The value's rows end early: what came before the break is all there is.
    }
    DamagedLongValue d{column, !keepsPart, {}};
    if (keepsPart) {
        // Unicode text is two bytes a character unless it is compressed (FF FE).
        const bool compressed = longValue_.size() >= 2 && longValue_[0] == 0xFF && longValue_[1] == 0xFE;
        if (!layout_.jet3 && !compressed && longValue_.size() % 2 != 0) longValue_.pop_back();
        if (longValue_.empty()) d.nulled = true;
        else d.kept = longValue_;
    }
    damaged_.push_back(std::move(d));
}

}  // namespace jet
