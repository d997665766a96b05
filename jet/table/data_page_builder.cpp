#include "jet/table/data_page_builder.h"

#include <algorithm>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"

namespace jet {

DataPageBuilder::DataPageBuilder(const FormatLayout& layout, std::uint32_t owner) : layout_(layout), owner_(owner) {
    reset();
}

void DataPageBuilder::reset() {
    page_.assign(layout_.pageSize, 0);
    page_[0] = 0x01;
    page_[1] = 0x01;
    bytes::putU32le(page_, layout_.dataOwner, owner_);
    rowCount_ = 0;
    top_ = layout_.pageSize;
}

std::size_t DataPageBuilder::maxRowLength(const FormatLayout& layout) {
    return layout.pageSize - layout.dataRowTable - 2;
}

bool DataPageBuilder::fits(std::size_t length) const {
    if (rowCount_ >= kMaxRows) return false;
    const std::size_t tableEnd = layout_.dataRowTable + 2 * (rowCount_ + 1);
    return tableEnd <= top_ && length <= top_ - tableEnd;
}

std::size_t DataPageBuilder::freeSpace() const {
    return top_ - (layout_.dataRowTable + 2 * rowCount_);
}

std::uint8_t DataPageBuilder::add(std::span<const std::uint8_t> row) {
    const std::span<std::uint8_t> to = addBlank(row.size());
    std::copy(row.begin(), row.end(), to.begin());
    return static_cast<std::uint8_t>(rowCount_ - 1);
}

std::span<std::uint8_t> DataPageBuilder::addBlank(std::size_t length) {
    if (!fits(length))
        throw JetError(ErrorKind::InvalidArgument, "Erro interno ao montar uma página de dados",
                       "row of " + std::to_string(length) + " bytes does not fit the page");
    top_ -= length;
    bytes::putU16le(page_, layout_.dataRowTable + 2 * rowCount_, static_cast<std::uint16_t>(top_));
    ++rowCount_;
    bytes::putU16le(page_, layout_.dataRowCount, static_cast<std::uint16_t>(rowCount_));
    bytes::putU16le(page_, 2, static_cast<std::uint16_t>(freeSpace()));
    return std::span<std::uint8_t>(page_).subspan(top_, length);
}

void DataPageBuilder::setHeaderWord08(std::uint32_t value) {
    if (!layout_.jet3) bytes::putU32le(page_, 0x08, value);
}

std::span<const std::uint8_t> DataPageBuilder::finished() {
    bytes::putU16le(page_, 2, static_cast<std::uint16_t>(freeSpace()));
    return page_;
}

std::vector<std::uint8_t> DataPageBuilder::take() {
    bytes::putU16le(page_, 2, static_cast<std::uint16_t>(freeSpace()));
    std::vector<std::uint8_t> out = std::move(page_);
    reset();
    return out;
}

}  // namespace jet
