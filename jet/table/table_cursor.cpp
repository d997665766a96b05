#include "jet/table/table_cursor.h"

#include "jet/format/byte_order.h"

namespace jet {

TableCursor::TableCursor(PageFile& file, const FormatLayout& layout, ValueDecoder& values,
                         const TableDefinition& table)
    : file_(file),
      layout_(layout),
      values_(values),
      table_(table),
      decoder_(table, layout),
      owned_(UsageMap::read(file, layout, table.ownedPagesMap)) {
    where_.table = table.name;
}

bool TableCursor::loadPage() {
    while (pageIndex_ < owned_.pages().size()) {
        const PageNumber n = owned_.pages()[pageIndex_++];
        PageRef p = file_.page(n);
        if (p->bytes[0] != 0x01 || bytes::u32le(p->span(), layout_.dataOwner) != table_.tdefPage.value) {
            skipped_.push_back(n);
            continue;
        }
        page_.emplace(std::move(p), layout_);
        nextRow_ = 0;
        return true;
    }
    page_.reset();
    return false;
}

bool TableCursor::next() {
    fieldsReady_ = false;
    for (;;) {
        if (!page_ && !loadPage()) return false;
        if (nextRow_ >= page_->rowCount()) {
            page_.reset();
            continue;
        }
        const auto r = static_cast<std::uint16_t>(nextRow_++);
        const std::uint16_t slot = page_->slot(r);
        if (slot & row_flag::Deleted) continue;
        location_ = RowPointer(page_->number(), static_cast<std::uint8_t>(r));
        dataLocation_ = location_;
        raw_ = page_->row(r);
        targetHolder_.reset();
        // Overflow pointers: follow them (bounded) to the row's bytes.
        bool overflow = (slot & row_flag::Overflow) != 0;
        for (int hops = 0; overflow; ++hops) {
            const ErrorLocation at{.page = dataLocation_.page.value,
                                   .row = dataLocation_.row,
                                   .table = table_.name,
                                   .structure = "ponteiro de estouro"};
            if (hops >= 8) throwCorruption("overflow pointers form a chain too long or a cycle", at);
            const RowPointer target = RowPointer::fromDescriptor(bytes::u32le(raw_, 0, at));
            if (target.page.isNull() || target.page.value >= file_.pageCount())
                throwCorruption("overflow pointer to page " + std::to_string(target.page.value), at);
            targetHolder_ = file_.page(target.page);
            DataPage tp(targetHolder_, layout_);
            if (target.row >= tp.rowCount()) throwCorruption("overflow pointer to a missing row", at);
            overflow = (tp.slot(target.row) & row_flag::Overflow) != 0;
            raw_ = tp.row(target.row);
            dataLocation_ = target;
        }
        where_.page = dataLocation_.page.value;
        where_.row = dataLocation_.row;
        return true;
    }
}

const RowFields& TableCursor::fields() {
    if (!fieldsReady_) {
        decoder_.split(raw_, fields_, where_);
        fieldsReady_ = true;
    }
    return fields_;
}

Value TableCursor::value(std::size_t index) {
    const RowFields& f = fields();
    return values_.decode(table_.columns.at(index), f.fields.at(index), where_);
}

void TableCursor::values(std::vector<Value>& out) {
    const RowFields& f = fields();
    out.resize(table_.columns.size());
    for (std::size_t i = 0; i < table_.columns.size(); ++i)
        out[i] = values_.decode(table_.columns[i], f.fields[i], where_);
}

}  // namespace jet
