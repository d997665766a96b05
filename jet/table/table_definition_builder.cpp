#include "jet/table/table_definition_builder.h"

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"
#include "jet/table/column_type.h"
#include "jet/table/table_definition_reader.h"
#include "jet/table/value_encoder.h"

namespace jet {

namespace {

constexpr std::uint8_t kUserTable = 0x4E;
constexpr std::uint32_t kJet4Constant = 0x659;  // in every Jet4+ header and column block seen

void appendName(std::vector<std::uint8_t>& out, const std::string& name, const FormatLayout& layout,
                std::uint16_t codePage) {
    Column text;  // a plain Text column: names are never compressed
    text.type = column_type::Text;
    text.codePage = codePage;
    std::vector<std::uint8_t> encoded;
    ValueEncoder(layout, codePage).encodeText(text, name, encoded);
    if (layout.jet3) {
        if (encoded.size() > 0xFF)
            throw JetError(ErrorKind::InvalidArgument, "Nome longo demais para uma tabela ou coluna", "name too long");
        out.push_back(static_cast<std::uint8_t>(encoded.size()));
    } else {
        const std::size_t at = out.size();
        out.resize(at + 2);
        bytes::putU16le(out, at, static_cast<std::uint16_t>(encoded.size()));
    }
    out.insert(out.end(), encoded.begin(), encoded.end());
}

// Header, column blocks as given, names, no index, the long-value map list.
TableDefinition assemble(const std::string& name, std::span<const std::vector<std::uint8_t>> blocks,
                         std::span<const std::string> names, std::span<const std::uint16_t> longValueColumns,
                         std::uint16_t maxColumns, std::uint16_t varSlots, const FormatLayout& layout,
                         std::uint16_t codePage) {
    std::vector<std::uint8_t> b(layout.tdefHeaderEnd, 0);
    b[0] = 0x02;
    b[1] = 0x01;
    if (layout.jet3) {
        b[2] = 'V';
        b[3] = 'C';
    } else {
        bytes::putU32le(b, 0x0C, kJet4Constant);
        b[0x18] = 0x01;
    }
    b[layout.tdefTableType] = kUserTable;
    bytes::putU16le(b, layout.tdefMaxColumns, maxColumns);
    bytes::putU16le(b, layout.tdefVarColumns, varSlots);
    bytes::putU16le(b, layout.tdefColumnCount, static_cast<std::uint16_t>(blocks.size()));
    for (const auto& block : blocks) b.insert(b.end(), block.begin(), block.end());
    for (const std::string& n : names) appendName(b, n, layout, codePage);
    for (std::uint16_t number : longValueColumns) {
        const std::size_t at = b.size();
        b.resize(at + 10, 0);
        bytes::putU16le(b, at, number);
    }
    b.push_back(0xFF);
    b.push_back(0xFF);
    bytes::putU32le(b, layout.tdefLength, static_cast<std::uint32_t>(b.size()));
    return parseTableDefinition(std::move(b), layout, codePage, name);
}

}  // namespace

TableDefinition newTableDefinition(const std::string& name, std::span<const NewColumn> columns,
                                   const FormatLayout& layout, std::uint16_t codePage, const Column* textLike) {
    std::vector<std::vector<std::uint8_t>> blocks;
    std::vector<std::string> names;
    std::vector<std::uint16_t> longValueColumns;
    const std::uint16_t collation = textLike && textLike->collation ? textLike->collation : 1033;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const NewColumn& c = columns[i];
        const auto number = static_cast<std::uint16_t>(i);
        std::uint16_t length = static_cast<std::uint16_t>(fixedSizeOf(c.type));
        if (c.type == column_type::Text) length = static_cast<std::uint16_t>(layout.jet3 ? c.length : 2 * c.length);
        if (c.type == column_type::Binary) length = c.length;
        if (isLongValueType(c.type)) length = 0;
        // Booleans live in the null mask; Access marks them fixed, one byte long.
        const std::uint8_t flags = c.type == column_type::Boolean
                                       ? static_cast<std::uint8_t>(column_flag::Fixed | column_flag::Updatable)
                                       : column_flag::Updatable;
        if (c.type == column_type::Boolean) length = 1;
        std::vector<std::uint8_t> block(layout.columnBlockSize, 0);
        block[0] = c.type;
        if (layout.jet3) {
            bytes::putU16le(block, 1, number);
            bytes::putU16le(block, 3, number);
            bytes::putU16le(block, 5, number);
            bytes::putU16le(block, 9, collation);
            bytes::putU16le(block, 11, codePage);
            block[13] = flags;
            bytes::putU16le(block, 16, length);
        } else {
            bytes::putU32le(block, 1, kJet4Constant);
            bytes::putU16le(block, 5, number);
            bytes::putU16le(block, 7, number);
            bytes::putU16le(block, 9, number);
            if (isTextType(c.type)) {
                bytes::putU16le(block, 11, collation);
                block[14] = textLike ? textLike->sortOrderVersion : 0;
            }
            block[15] = flags;
            bytes::putU16le(block, 23, length);
        }
        blocks.push_back(std::move(block));
        names.push_back(c.name);
        if (isLongValueType(c.type)) longValueColumns.push_back(number);
    }
    const auto count = static_cast<std::uint16_t>(columns.size());
    return assemble(name, blocks, names, longValueColumns, count, count, layout, codePage);
}

TableDefinition definitionWithoutIndexes(const TableDefinition& source, const std::string& name,
                                         const FormatLayout& layout, std::uint16_t codePage) {
    std::vector<std::vector<std::uint8_t>> blocks;
    std::vector<std::string> names;
    for (const Column& c : source.columns) {
        blocks.push_back(c.rawBlock);
        names.push_back(c.name);
    }
    std::vector<std::uint16_t> longValueColumns;
    for (const LongValueMaps& m : source.longValueMaps) longValueColumns.push_back(m.columnNumber);
    return assemble(name, blocks, names, longValueColumns, source.maxColumns, source.varColumnSlots, layout, codePage);
}

}  // namespace jet
