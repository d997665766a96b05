#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/format/format_layout.h"
#include "jet/table/row_decoder.h"
#include "jet/table/table_definition.h"
#include "jet/table/value.h"

namespace jet {

// Turns a Value into the bytes a row stores for a column: the inverse of
// ValueDecoder for the types rows built by the engine hold. Text is the database
// code page (Jet3) or UTF-16LE (Jet4+), compressed (FF FE) as Access does: Text
// when the column's flag allows it, Memo always, text of more than two characters
// all in U+0001..U+00FF. Memo and OLE values are written inline after their
// 12-byte descriptor, so they must fit in the row (no LVAL pages are written).
class ValueEncoder {
public:
    ValueEncoder(const FormatLayout& layout, std::uint16_t databaseCodePage);

    // The field for `value` in `column`; its bytes live in `storage` (replaced), so
    // the field stays valid while `storage` is left alone. NULL gives an absent
    // field (a Boolean column takes bool only: NULL there is false). Throws JetError
    // (InvalidArgument) when the value's type does not suit the column, the value is
    // longer than the column takes, text has characters the code page lacks, or the
    // column is calculated or of a type not written here.
    FieldBytes encode(const Column& column, const Value& value, std::vector<std::uint8_t>& storage) const;

    // The stored form of text for a Text or Memo column (no long-value descriptor).
    void encodeText(const Column& column, std::string_view utf8, std::vector<std::uint8_t>& out) const;

private:
    void encodeCodePageText(std::string_view utf8, std::uint16_t codePage, std::vector<std::uint8_t>& out) const;

    FormatLayout layout_;
    std::uint16_t codePage_;
};

// Fields of one row built from values, owning their bytes: what RowEncoder takes.
class EncodedFields {
public:
    // Encodes `values` (in TableDefinition::columns order) for `table`.
    void assign(const ValueEncoder& encoder, const TableDefinition& table, const std::vector<Value>& values);
    const std::vector<FieldBytes>& fields() const { return fields_; }

private:
    std::vector<std::vector<std::uint8_t>> storage_;
    std::vector<FieldBytes> fields_;
};

}  // namespace jet
