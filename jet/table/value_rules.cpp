#include "jet/table/value_rules.h"

#include "jet/format/byte_order.h"
#include "jet/table/column_type.h"
#include "jet/table/long_value_reader.h"

namespace jet {

std::optional<RuleBreak> rowShapeBreak(const RowFields& row, const TableDefinition& table) {
    // Every table has a column, so every row it wrote counts one; a count of zero
    // is what zeroed bytes read as.
    if (row.columnCount == 0 && !table.columns.empty())
        return RuleBreak{"row_column_count", "a linha diz não ter coluna alguma"};
    if (row.columnCount > table.maxColumns)
        return RuleBreak{"row_column_count", "a linha diz ter " + std::to_string(row.columnCount) +
                                                 " colunas, a tabela no máximo " + std::to_string(table.maxColumns)};
    if (row.varCount > table.varColumnSlots && table.varColumnSlots > 0)
        return RuleBreak{"row_var_count", "a linha tem " + std::to_string(row.varCount) +
                                              " posições variáveis, a tabela no máximo " +
                                              std::to_string(table.varColumnSlots)};
    return std::nullopt;
}

std::optional<RuleBreak> storedValueBreak(const Column& c, std::span<const std::uint8_t> b, bool jet3) {
    if (const std::size_t size = fixedSizeOf(c.type);
        size != 0 && c.type != column_type::Binary3992 && c.type != column_type::ExtendedDateTime && b.size() != size)
        return RuleBreak{"value_size", "o valor da coluna " + c.name + " tem " + std::to_string(b.size()) +
                                           " bytes, mas um valor do tipo " + columnTypeName(c.type) + " tem " +
                                           std::to_string(size)};
    switch (c.type) {
        case column_type::Text: {
            const bool compressed = !jet3 && b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE;
            if (!jet3 && !compressed && b.size() % 2 != 0)
                return RuleBreak{"text_odd_length", "texto Unicode da coluna " + c.name + " com número ímpar de bytes"};
            if (!compressed && c.length > 0 && b.size() > c.length)
                return RuleBreak{"text_too_long", "texto da coluna " + c.name + " maior que o tamanho da coluna"};
            break;
        }
        case column_type::Numeric:
            if (c.isFixed() && !b.empty() && b[0] != 0x00 && b[0] != 0x80)
                return RuleBreak{"numeric_sign", "sinal inválido no valor decimal da coluna " + c.name};
            break;
        case column_type::ExtendedDateTime:
            if (b.size() != 42)
                return RuleBreak{"extended_date_size", "data estendida da coluna " + c.name + " sem 42 bytes"};
            break;
        default: break;
    }
    return std::nullopt;
}

std::optional<RuleBreak> longValueDescriptorBreak(const Column& c, std::span<const std::uint8_t> field) {
    if (field.size() < 12)
        return RuleBreak{"long_value_descriptor",
                         "o descritor de valor longo da coluna " + c.name + " tem menos de 12 bytes", true};
    const std::uint32_t head = bytes::u32le(field, 0);
    const auto kind = static_cast<LongValueDescriptor::Kind>((head >> 24) & 0xC0);
    if (kind == LongValueDescriptor::Kind::Invalid)
        return RuleBreak{"long_value_kind", "tipo de armazenamento inválido no valor longo da coluna " + c.name, true};
    if (kind == LongValueDescriptor::Kind::Inline) {
        if ((head & 0x3FFFFFFFu) != field.size() - 12)
            return RuleBreak{"long_value_inline_length",
                             "o valor longo em linha da coluna " + c.name + " não tem o comprimento que declara", true};
        return std::nullopt;
    }
    if (field.size() != 12)
        return RuleBreak{"long_value_descriptor", "o descritor de valor longo da coluna " + c.name + " não tem 12 bytes"};
    return std::nullopt;
}

}  // namespace jet
