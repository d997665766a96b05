#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jet/format/format_layout.h"
#include "jet/format/jet_error.h"
#include "jet/format/page_file.h"
#include "jet/format/page_number.h"
#include "jet/table/chain_visits.h"

namespace jet {

// The 12-byte descriptor that a Memo or OLE column stores in its row.
struct LongValueDescriptor {
    enum class Kind : std::uint8_t { Inline = 0x80, SingleRow = 0x40, Chain = 0x00, Invalid = 0xC0 };
    std::uint32_t length = 0;  // total bytes of the value
    Kind kind = Kind::Inline;
    RowPointer pointer;        // first LVAL row (SingleRow, Chain)
    std::uint32_t stamp = 0;   // Jet4+ chains: bytes 8..11

    static LongValueDescriptor parse(std::span<const std::uint8_t> field, const ErrorLocation& where);
};

// One row of long-value data that a value occupies (for checkers and compaction).
struct LongValueSegment {
    RowPointer row;
    std::size_t dataBytes = 0;
};

// Reads Memo/OLE contents: inline, one LVAL row, or a chain of LVAL rows.
// Every walk is bounded and cycle-checked.
class LongValueReader {
public:
    LongValueReader(PageFile& file, const FormatLayout& layout) : file_(file), layout_(layout) {}

    // The value's bytes; `segments`, when given, receives the LVAL rows visited.
    std::vector<std::uint8_t> read(std::span<const std::uint8_t> field, const ErrorLocation& where,
                                   std::vector<LongValueSegment>* segments = nullptr);
    // The same bytes into `out` (replacing what it held), for callers that read many
    // values into one buffer instead of allocating one per value.
    void readInto(std::span<const std::uint8_t> field, const ErrorLocation& where, std::vector<std::uint8_t>& out,
                  std::vector<LongValueSegment>* segments = nullptr);
    // The same bytes in the pieces they are stored in (the inline bytes, the one
    // LVAL row, or each row of a chain), in order, with the same checks; each piece
    // is valid during its call. For callers that copy a value without assembling it.
    void forEachPart(std::span<const std::uint8_t> field, const ErrorLocation& where,
                     const std::function<void(std::span<const std::uint8_t>)>& part,
                     std::vector<LongValueSegment>* segments = nullptr);

private:
    std::span<const std::uint8_t> lvalRow(RowPointer p, PageRef& holder, const ErrorLocation& where);

    PageFile& file_;
    const FormatLayout& layout_;
    ChainVisits visits_;  // rows of the chain being read; kept between reads to reuse memory
};

}  // namespace jet
