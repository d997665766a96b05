#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "jet/format/bulk_memory.h"
#include "jet/format/format_layout.h"
#include "jet/format/page_file.h"

namespace jet {

// What the walks of long values need of one row of a long-value page.
struct LongValueRowFacts {
    static constexpr std::uint32_t kUnreadable = 0xFFFFFFFFu;
    std::uint32_t size = kUnreadable;
    std::uint32_t next = 0;  // its first four bytes: a chain's next chunk
};

// What a check needs of one long-value page, read once.
struct LongValuePageFacts {
    std::uint32_t page = 0;
    bool lval = false;      // a data page owned by long values
    bool readable = false;  // its header and row table decode
    bool rowsKept = false;  // its rows are in the sweep's rows from firstRow on
    std::uint16_t rowCount = 0;
    std::uint32_t firstRow = 0;
    std::array<std::uint64_t, 4> live{};  // rows not deleted, bit r for row r
};

// The facts of one page; its rows are appended to `rows` when it has at most
// `keepRows` of them.
LongValuePageFacts longValuePageFactsOf(const PageBuffer& page, const FormatLayout& layout,
                                        std::vector<LongValueRowFacts>& rows, std::size_t keepRows);

// The long-value pages of a table, read once in file order (a walk of every
// value's chain would otherwise read them in the order the rows point).
struct LongValueSweep {
    std::vector<std::uint32_t> pages;       // what was swept: ascending, no repeats
    std::vector<LongValuePageFacts> facts;  // one per page read, by page
    std::vector<LongValueRowFacts> rows;

    // Rows kept at most (8 bytes each); pages past the budget keep only their
    // facts, and the walks read them again, so memory stays bounded on files with
    // many small long values.
    static constexpr std::size_t kRowBudget = std::size_t{1} << 20;

    // Sweeps `pages` (ascending, no repeats; those past the end of the file are
    // skipped). Pages that cannot be read are left for whoever reaches them.
    void run(PageFile& file, const FormatLayout& layout, std::vector<std::uint32_t> pagesToRead);
    void clear();
    const LongValuePageFacts* find(PageNumber p) const;
    std::size_t bytes() const;

private:
    static constexpr std::uint32_t kNotSwept = 0xFFFFFFFFu;
    // facts' position by page from pages.front(), when the pages lie close
    // enough for it (every value's every chunk is looked up).
    std::vector<std::uint32_t> byPage_;
    void indexPages();
};

}  // namespace jet
