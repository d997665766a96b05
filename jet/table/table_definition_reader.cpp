#include "jet/table/table_definition_reader.h"

#include <unordered_set>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"
#include "jet/format/text_codec.h"

namespace jet {

namespace {

class DefinitionParser {
public:
    DefinitionParser(const std::vector<std::uint8_t>& buffer, const FormatLayout& layout, std::uint16_t codePage,
                     const std::string& table)
        : buf_(buffer), layout_(layout), codePage_(codePage) {
        at_.table = table;
        at_.structure = "definição de tabela";
    }

    void parse(TableDefinition& t) {
        const bool jet3 = layout_.jet3;
        t.definitionLength = bytes::u32le(buf_, layout_.tdefLength, here(layout_.tdefLength));
        t.rowCount = bytes::u32le(buf_, layout_.tdefRowCount, here(layout_.tdefRowCount));
        t.autonumber = bytes::u32le(buf_, layout_.tdefAutonumber, here(layout_.tdefAutonumber));
        if (!jet3) t.complexAutonumber = bytes::u32le(buf_, layout_.tdefComplexAutonumber);
        t.tableType = bytes::u8(buf_, layout_.tdefTableType, here(layout_.tdefTableType));
        t.maxColumns = bytes::u16le(buf_, layout_.tdefMaxColumns);
        t.varColumnSlots = bytes::u16le(buf_, layout_.tdefVarColumns);
        t.columnCount = bytes::u16le(buf_, layout_.tdefColumnCount);
        t.logicalIndexCount = bytes::u32le(buf_, layout_.tdefIndexCount);
        t.physicalIndexCount = bytes::u32le(buf_, layout_.tdefRealIndexCount);
        t.ownedPagesMap = RowPointer::fromDescriptor(bytes::u32le(buf_, layout_.tdefOwnedMap));
        t.freeSpaceMap = RowPointer::fromDescriptor(bytes::u32le(buf_, layout_.tdefFreeMap));

        // Counts come from the file: bound them by what the buffer could hold before allocating.
        pos_ = layout_.tdefHeaderEnd;
        requireCount(t.physicalIndexCount, layout_.indexStatisticsSize + layout_.physicalIndexSize, "physical indexes");
        requireCount(t.columnCount, layout_.columnBlockSize, "columns");
        requireCount(t.logicalIndexCount, layout_.logicalIndexSize, "logical indexes");

        t.physicalIndexes.resize(t.physicalIndexCount);
        for (std::uint32_t i = 0; i < t.physicalIndexCount; ++i) {
            const auto block = take(layout_.indexStatisticsSize);
            PhysicalIndex& ix = t.physicalIndexes[i];
            ix.number = i;
            ix.rawStatistics.assign(block.begin(), block.end());
            ix.distinctKeys = bytes::u32le(block, 4);
        }

        t.columns.resize(t.columnCount);
        for (std::uint16_t i = 0; i < t.columnCount; ++i) {
            const std::size_t blockStart = pos_;
            const auto b = take(layout_.columnBlockSize);
            Column& c = t.columns[i];
            c.blockIndex = i;
            c.rawBlock.assign(b.begin(), b.end());
            c.type = b[0];
            if (jet3) {
                c.number = bytes::u16le(b, 1);
                c.varSlot = bytes::u16le(b, 3);
                c.designPosition = bytes::u16le(b, 5);
                c.collation = bytes::u16le(b, 9);
                c.codePage = bytes::u16le(b, 11);
                c.flags = b[13];
                c.fixedOffset = bytes::u16le(b, 14);
                c.length = bytes::u16le(b, 16);
            } else {
                c.number = bytes::u16le(b, 5);
                c.varSlot = bytes::u16le(b, 7);
                c.designPosition = bytes::u16le(b, 9);
                if (isTextType(c.type)) {
                    c.collation = bytes::u16le(b, 11);
                    c.sortOrderVersion = b[14];
                } else if (c.type == column_type::Numeric) {
                    c.precision = b[11];
                    c.scale = b[12];
                } else if (c.type == column_type::Complex) {
                    c.complexId = bytes::u32le(b, 11);
                }
                c.flags = b[15];
                c.extendedFlags = b[16];
                c.fixedOffset = bytes::u16le(b, 21);
                c.length = bytes::u16le(b, 23);
            }
            (void)blockStart;
        }
        for (Column& c : t.columns) c.name = readName();

        for (std::uint32_t i = 0; i < t.physicalIndexCount; ++i) {
            const auto b = take(layout_.physicalIndexSize);
            PhysicalIndex& ix = t.physicalIndexes[i];
            ix.rawDefinition.assign(b.begin(), b.end());
            const std::size_t base = jet3 ? 0 : 4;
            for (std::size_t s = 0; s < 10; ++s) {
                const std::uint16_t col = bytes::u16le(b, base + 3 * s);
                if (col == 0xFFFF) continue;
                IndexColumn ic;
                ic.columnNumber = col;
                ic.rawFlags = b[base + 3 * s + 2];
                ic.ascending = (ic.rawFlags & 0x01) != 0;
                ix.columns.push_back(ic);
            }
            ix.usageMap = RowPointer::fromDescriptor(bytes::u32le(b, base + 30));
            ix.rootPage = PageNumber(bytes::u32le(b, base + 34));
            ix.flags = b[jet3 ? 38 : 46];
        }

        t.logicalIndexes.resize(t.logicalIndexCount);
        for (std::uint32_t i = 0; i < t.logicalIndexCount; ++i) {
            const auto b = take(layout_.logicalIndexSize);
            LogicalIndex& li = t.logicalIndexes[i];
            li.rawDefinition.assign(b.begin(), b.end());
            const std::size_t base = jet3 ? 0 : 4;
            li.indexNumber = bytes::u32le(b, base);
            li.physicalIndex = bytes::u32le(b, base + 4);
            li.foreignKey.side = b[base + 8];
            li.foreignKey.relatedIndexNumber = bytes::i32le(b, base + 9);
            li.foreignKey.relatedTable = PageNumber(bytes::u32le(b, base + 13));
            li.foreignKey.updateFlags = b[base + 17];
            li.foreignKey.deleteFlags = b[base + 18];
            li.rawKind = b[base + 19];
            li.kind = li.rawKind == 1   ? LogicalIndexKind::PrimaryKey
                      : li.rawKind == 2 ? LogicalIndexKind::ForeignKey
                                        : LogicalIndexKind::Normal;
        }
        for (LogicalIndex& li : t.logicalIndexes) li.name = readName();

        // Long-value column maps, terminated by 0xFFFF. Each entry is 10 bytes, so
        // the walk is bounded by the buffer.
        for (;;) {
            const std::uint16_t col = bytes::u16le(buf_, pos_, here(pos_));
            if (col == 0xFFFF) {
                pos_ += 2;
                break;
            }
            const auto b = take(10);
            LongValueMaps m;
            m.columnNumber = col;
            m.ownedPages = RowPointer::fromDescriptor(bytes::u32le(b, 2));
            m.freeSpacePages = RowPointer::fromDescriptor(bytes::u32le(b, 6));
            t.longValueMaps.push_back(m);
        }
    }

private:
    ErrorLocation here(std::size_t offset) const {
        ErrorLocation l = at_;
        l.offset = offset;
        return l;
    }

    void requireCount(std::uint64_t count, std::size_t each, const char* what) const {
        if (count * each > buf_.size())
            throwCorruption(std::string("table definition claims ") + std::to_string(count) + " " + what +
                                ", more than its " + std::to_string(buf_.size()) + " bytes can hold",
                            at_);
    }

    bytes::Span take(std::size_t n) {
        const auto s = bytes::slice(buf_, pos_, n, here(pos_));
        pos_ += n;
        return s;
    }

    std::string readName() {
        if (layout_.jet3) {
            const std::size_t n = bytes::u8(buf_, pos_, here(pos_));
            pos_ += 1;
            return decodeCodePage(take(n), codePage_);
        }
        const std::size_t n = bytes::u16le(buf_, pos_, here(pos_));
        pos_ += 2;
        return decodeUtf16le(take(n));
    }

    const std::vector<std::uint8_t>& buf_;
    const FormatLayout& layout_;
    std::uint16_t codePage_;
    ErrorLocation at_;
    std::size_t pos_ = 0;
};

}  // namespace

TableDefinition parseTableDefinition(std::vector<std::uint8_t> buffer, const FormatLayout& layout,
                                     std::uint16_t codePage, const std::string& tableName) {
    TableDefinition t;
    t.name = tableName;
    t.rawDefinition = std::move(buffer);
    DefinitionParser(t.rawDefinition, layout, codePage, tableName).parse(t);
    return t;
}

TableDefinition readTableDefinition(PageFile& file, const FormatLayout& layout, PageNumber firstPage,
                                    std::uint16_t codePage, const std::string& tableName) {
    std::vector<std::uint8_t> buffer;
    std::vector<PageNumber> chain;
    std::unordered_set<std::uint32_t> seen;
    PageNumber current = firstPage;
    while (!current.isNull() || chain.empty()) {
        const ErrorLocation at{.page = current.value, .table = tableName, .structure = "definição de tabela"};
        if (!seen.insert(current.value).second) throwCorruption("table definition pages form a cycle", at);
        if (current.value >= file.pageCount())
            throwCorruption("table definition page lies beyond the end of the file", at);
        PageRef page = file.page(current);
        const bytes::Span p = page->span();
        if (p[0] != 0x02) throwCorruption("expected a table definition page, found type " + std::to_string(p[0]), at);
        if (chain.empty()) buffer.assign(p.begin(), p.end());
        else buffer.insert(buffer.end(), p.begin() + 8, p.end());
        chain.push_back(current);
        current = PageNumber(bytes::u32le(p, 4, at));
        if (current.isNull()) break;
    }
    TableDefinition t = parseTableDefinition(std::move(buffer), layout, codePage, tableName);
    t.tdefPage = firstPage;
    t.tdefPages = std::move(chain);
    return t;
}

}  // namespace jet
