#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "jet/table/row_decoder.h"
#include "jet/table/table_definition.h"

namespace jet {

// A rule that a stored row or value breaks although the reader could split it:
// what the checker reports as damage and what a salvage must not keep. `code` is
// the checker's finding code, `message` a Portuguese description.
struct RuleBreak {
    const char* code = "";
    std::string message;
    bool unreadable = false;  // long values: the descriptor cannot even be followed
};

// The row's counts against its table: at least one column, no more columns or
// variable slots than the table has.
std::optional<RuleBreak> rowShapeBreak(const RowFields& row, const TableDefinition& table);

// A present value of a column that is neither a long value nor calculated: the size
// of a fixed-size type (a damaged type byte turns a Text column into Date/Time, and
// the reader would make values up from the first bytes), text lengths, the sign
// byte of a decimal, the length of an extended date.
std::optional<RuleBreak> storedValueBreak(const Column& column, std::span<const std::uint8_t> value, bool jet3);

// A Memo/OLE descriptor before its rows are read: its size, storage kind and, for
// a value kept in the row, the length it declares.
std::optional<RuleBreak> longValueDescriptorBreak(const Column& column, std::span<const std::uint8_t> field);

}  // namespace jet
