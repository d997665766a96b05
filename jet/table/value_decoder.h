#pragma once

#include <cstdint>
#include <span>

#include "jet/format/format_layout.h"
#include "jet/table/long_value_reader.h"
#include "jet/table/row_decoder.h"
#include "jet/table/table_definition.h"
#include "jet/table/value.h"

namespace jet {

// Turns a column's stored bytes into a Value: numbers, money, dates, GUIDs,
// text (Jet3 code page or Jet4 UCS-2/compressed) and long values.
class ValueDecoder {
public:
    ValueDecoder(PageFile& file, const FormatLayout& layout, std::uint16_t databaseCodePage)
        : layout_(layout), longValues_(file, layout), codePage_(databaseCodePage) {}

    Value decode(const Column& column, const FieldBytes& field, const ErrorLocation& where);

    // Decodes bytes of a given type the way they are stored in rows (no long-value
    // descriptor: `data` is the content itself for Memo/OLE). Used for property values too.
    Value decodeBytes(std::uint8_t type, std::span<const std::uint8_t> data, const Column* column,
                      const ErrorLocation& where) const;

    std::string decodeText(std::span<const std::uint8_t> data, std::uint16_t columnCodePage = 0) const;

    LongValueReader& longValues() { return longValues_; }

private:
    Value decodePresent(const Column& column, std::span<const std::uint8_t> data, const ErrorLocation& at);
    Value decodeCalculated(std::uint8_t type, std::span<const std::uint8_t> data, const Column& column,
                           const ErrorLocation& at) const;

    const FormatLayout& layout_;
    LongValueReader longValues_;
    std::uint16_t codePage_;
};

}  // namespace jet
