#include "jet/table/data_page.h"

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"

namespace jet {

DataPage::DataPage(PageRef page, const FormatLayout& layout) : page_(std::move(page)), layout_(&layout) {
    const bytes::Span p = page_->span();
    // Built only for an error: a page is opened for every few rows.
    const auto at = [&] { return ErrorLocation{.page = page_->number.value, .structure = "página de dados"}; };
    if (p.empty() || p[0] != 0x01)
        throwCorruption("expected a data page, found type " + std::to_string(p.empty() ? 0 : p[0]), at());
    bytes::require(p, layout.dataRowCount, 2, at);
    rowCount_ = bytes::u16le(p, layout.dataRowCount);
    if (!bytes::fits(p.size(), layout.dataRowTable, std::size_t{rowCount_} * 2))
        throwCorruption("row offset table of " + std::to_string(rowCount_) + " entries does not fit the page", at());
}

std::uint16_t DataPage::freeSpace() const { return bytes::u16le(page_->span(), 2); }

std::uint32_t DataPage::owner() const { return bytes::u32le(page_->span(), layout_->dataOwner); }

std::uint16_t DataPage::slot(std::uint16_t row) const {
    if (row >= rowCount_)
        throwCorruption("row " + std::to_string(row) + " does not exist",
                        ErrorLocation{.page = page_->number.value, .row = row});
    return bytes::u16le(page_->span(), layout_->dataRowTable + std::size_t{row} * 2);
}

std::span<const std::uint8_t> DataPage::row(std::uint16_t r) const {
    const std::size_t start = slot(r) & row_flag::OffsetMask;
    const std::size_t end = r == 0 ? page_->bytes.size() : (slot(static_cast<std::uint16_t>(r - 1)) & row_flag::OffsetMask);
    const std::size_t tableEnd = layout_->dataRowTable + std::size_t{rowCount_} * 2;
    if (start < tableEnd || start > end || end > page_->bytes.size()) {
        throwCorruption("row bounds [" + std::to_string(start) + ", " + std::to_string(end) + ") are invalid",
                        ErrorLocation{.page = page_->number.value, .row = r, .structure = "linha"});
    }
    return page_->span().subspan(start, end - start);
}

}  // namespace jet
