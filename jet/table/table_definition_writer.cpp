#include "jet/table/table_definition_writer.h"

#include <algorithm>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"

namespace jet {

TableDefinitionWriter::TableDefinitionWriter(const TableDefinition& def, const FormatLayout& layout)
    : layout_(layout) {
    const ErrorLocation at{.page = def.tdefPage.value, .table = def.name, .structure = "definição de tabela"};
    const std::size_t length = def.definitionLength;
    if (length < layout.tdefHeaderEnd || length > def.rawDefinition.size())
        throwCorruption("table definition length does not fit its pages", at);
    buffer_.assign(def.rawDefinition.begin(), def.rawDefinition.begin() + static_cast<std::ptrdiff_t>(length));

    const bytes::Span b = buffer_;
    std::size_t pos = layout.tdefHeaderEnd;
    for (std::uint32_t i = 0; i < def.physicalIndexCount; ++i) {
        bytes::require(b, pos, layout.indexStatisticsSize, at);
        blocks_.statistics.push_back(pos);
        pos += layout.indexStatisticsSize;
    }
    bytes::require(b, pos, std::size_t{def.columnCount} * layout.columnBlockSize, at);
    pos += std::size_t{def.columnCount} * layout.columnBlockSize;
    auto skipName = [&] {
        if (layout.jet3) pos += 1 + bytes::u8(b, pos, at);
        else pos += 2 + bytes::u16le(b, pos, at);
        bytes::require(b, 0, pos, at);
    };
    for (std::uint16_t i = 0; i < def.columnCount; ++i) skipName();
    for (std::uint32_t i = 0; i < def.physicalIndexCount; ++i) {
        bytes::require(b, pos, layout.physicalIndexSize, at);
        blocks_.physical.push_back(pos);
        pos += layout.physicalIndexSize;
    }
    for (std::uint32_t i = 0; i < def.logicalIndexCount; ++i) {
        bytes::require(b, pos, layout.logicalIndexSize, at);
        blocks_.logical.push_back(pos);
        pos += layout.logicalIndexSize;
    }
    for (std::uint32_t i = 0; i < def.logicalIndexCount; ++i) skipName();
    for (std::size_t guard = 0; guard < 0x10000; ++guard) {
        if (bytes::u16le(b, pos, at) == 0xFFFF) break;
        bytes::require(b, pos, 10, at);
        blocks_.longValueMaps.push_back(pos);
        pos += 10;
    }
    if (blocks_.longValueMaps.size() != def.longValueMaps.size())
        throwCorruption("long-value map list does not match the parsed definition", at);
}

std::size_t TableDefinitionWriter::pageCount() const {
    const std::size_t ps = layout_.pageSize;
    if (buffer_.size() <= ps) return 1;
    return 1 + (buffer_.size() - ps + (ps - 8) - 1) / (ps - 8);
}

void TableDefinitionWriter::setRowCount(std::uint32_t rows) { bytes::putU32le(buffer_, layout_.tdefRowCount, rows); }

void TableDefinitionWriter::setAutonumber(std::uint32_t last) {
    bytes::putU32le(buffer_, layout_.tdefAutonumber, last);
}

void TableDefinitionWriter::setTableMaps(RowPointer owned, RowPointer freeSpace) {
    bytes::putU32le(buffer_, layout_.tdefOwnedMap, owned.toDescriptor());
    bytes::putU32le(buffer_, layout_.tdefFreeMap, freeSpace.toDescriptor());
}

void TableDefinitionWriter::setIndexStatistics(std::size_t i, std::uint32_t distinctKeys) {
    bytes::putU32le(buffer_, blocks_.statistics.at(i) + 4, distinctKeys);
}

void TableDefinitionWriter::setIndexTree(std::size_t i, RowPointer usageMap, PageNumber root) {
    const std::size_t base = blocks_.physical.at(i) + (layout_.jet3 ? 30 : 34);
    bytes::putU32le(buffer_, base, usageMap.toDescriptor());
    bytes::putU32le(buffer_, base + 4, root.value);
}

void TableDefinitionWriter::remapRelatedTables(const std::function<std::optional<PageNumber>(PageNumber)>& mapTable) {
    const std::size_t field = layout_.jet3 ? 13 : 17;
    for (std::size_t off : blocks_.logical) {
        const std::uint32_t page = bytes::u32le(buffer_, off + field);
        if (page == 0) continue;
        if (auto mapped = mapTable(PageNumber(page))) bytes::putU32le(buffer_, off + field, mapped->value);
    }
}

void TableDefinitionWriter::setLongValueMaps(std::size_t entry, RowPointer owned, RowPointer freeSpace) {
    const std::size_t off = blocks_.longValueMaps.at(entry);
    bytes::putU32le(buffer_, off + 2, owned.toDescriptor());
    bytes::putU32le(buffer_, off + 6, freeSpace.toDescriptor());
}

void TableDefinitionWriter::clearForeignKey(std::size_t logical) {
    const std::size_t base = blocks_.logical.at(logical) + (layout_.jet3 ? 0 : 4);
    buffer_[base + 8] = 0;                              // side
    bytes::putU32le(buffer_, base + 9, 0xFFFFFFFFu);    // related index: none
    bytes::putU32le(buffer_, base + 13, 0);             // related table
    buffer_[base + 17] = 0;                             // cascade flags
    buffer_[base + 18] = 0;
    buffer_[base + 19] = 0;                             // kind: plain index
}

std::vector<std::vector<std::uint8_t>> TableDefinitionWriter::pages(const std::vector<PageNumber>& numbers) const {
    const std::size_t ps = layout_.pageSize;
    const std::size_t count = pageCount();
    if (numbers.size() != count)
        throw JetError(ErrorKind::InvalidArgument, "Erro interno ao gravar uma definição de tabela",
                       "wrong number of TDEF pages");
    std::vector<std::vector<std::uint8_t>> out;
    std::size_t pos = 0;
    for (std::size_t i = 0; i < count; ++i) {
        std::vector<std::uint8_t> page(ps, 0);
        std::size_t used = 0;
        if (i == 0) {
            used = std::min(ps, buffer_.size());
            std::copy(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(used), page.begin());
            pos = used;
        } else {
            page[0] = 0x02;
            page[1] = 0x01;
            if (layout_.jet3) {
                page[2] = 'V';
                page[3] = 'C';
            }
            const std::size_t n = std::min(ps - 8, buffer_.size() - pos);
            std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(pos),
                      buffer_.begin() + static_cast<std::ptrdiff_t>(pos + n), page.begin() + 8);
            pos += n;
            used = 8 + n;
        }
        bytes::putU32le(page, 4, i + 1 < count ? numbers[i + 1].value : 0);
        if (!layout_.jet3) {
            std::uint16_t free = 0;
            if (count == 1) free = static_cast<std::uint16_t>(ps >= buffer_.size() + 8 ? ps - buffer_.size() - 8 : 0);
            else if (i + 1 == count) free = static_cast<std::uint16_t>(ps - used - 8);
            bytes::putU16le(page, 2, free);
        }
        out.push_back(std::move(page));
    }
    return out;
}

}  // namespace jet
