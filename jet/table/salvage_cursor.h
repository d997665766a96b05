#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/table/data_page.h"
#include "jet/table/row_decoder.h"
#include "jet/table/salvage_item.h"
#include "jet/table/value_decoder.h"

namespace jet {

// A long value of the current row that could not be read whole.
struct DamagedLongValue {
    std::size_t column = 0;          // position in TableDefinition::columns
    bool nulled = false;             // the value becomes NULL
    std::vector<std::uint8_t> kept;  // otherwise (a Memo): its bytes up to the break
};

// Where a table's rows are to be looked for: the pages its usage map lists or,
// when the map cannot be read, every data page of the file that names the table
// as its owner and that the global map does not mark free.
struct SalvagePages {
    std::vector<PageNumber> pages;
    bool scanned = false;  // the map could not be read
};
SalvagePages findSalvagePages(PageFile& file, const FormatLayout& layout, const TableDefinition& table);

// Walks the rows of one table the way a repair reads a damaged file: a page that
// is not one of the table's data pages, a row that does not decode against the
// definition (slot, shape, every value) or an overflow pointer that leads nowhere
// costs that page or that row, which losses() lists, and the walk goes on. A row
// it gives decodes cleanly, except for long values whose rows are lost: those it
// names in damagedValues() (a Memo keeps what could be read, anything else
// becomes NULL). Nothing it reads is trusted: every pointer is bounded.
class SalvageCursor {
public:
    SalvageCursor(PageFile& file, const FormatLayout& layout, ValueDecoder& values, const TableDefinition& table,
                  std::vector<PageNumber> pages);
    // The walk of a whole table: the pages findSalvagePages gives, the rows its
    // definition counts expected.
    static SalvageCursor overTable(PageFile& file, const FormatLayout& layout, ValueDecoder& values,
                                   const TableDefinition& table);

    bool next();

    // The rows the table's definition says it holds: when the pages given yield
    // fewer, a usage map that still reads may have lost some of the table's pages,
    // and they are looked for by their owner too.
    void expectRows(std::uint64_t rows) { expected_ = rows; }

    RowPointer location() const { return location_; }          // the slot the row is listed under
    RowPointer dataLocation() const { return dataLocation_; }  // where its bytes are
    std::span<const std::uint8_t> rawRow() const { return raw_; }
    const RowFields& fields() const { return fields_; }
    const std::vector<DamagedLongValue>& damagedValues() const { return damaged_; }
    // Decoded value of column `index`; a damaged long value reads as NULL.
    Value value(std::size_t index);

    // Every page and row left out so far, and every long value given damaged.
    const std::vector<SalvageItem>& losses() const { return losses_; }

private:
    bool loadPage();
    bool follow(std::span<const std::uint8_t>& raw);  // an overflow pointer to its row
    std::optional<std::string> rowProblem();          // why the current row cannot be kept
    void checkLongValue(std::size_t column);
    void lose(SalvageItem::Kind kind, std::optional<std::uint16_t> row, std::string description,
              std::string column = {});

    PageFile& file_;
    const FormatLayout& layout_;
    ValueDecoder& values_;
    const TableDefinition& table_;
    RowDecoder decoder_;
    std::vector<PageNumber> pages_;
    std::size_t pageIndex_ = 0;
    std::optional<DataPage> page_;
    PageRef targetHolder_;
    int nextRow_ = 0;
    RowPointer location_;
    RowPointer dataLocation_;
    std::span<const std::uint8_t> raw_;
    RowFields fields_;
    std::vector<DamagedLongValue> damaged_;
    std::vector<std::uint8_t> longValue_;
    std::unordered_set<RowPointer> overflowTargets_;  // taken once only
    bool rescanned_ = false;
    bool mapSuspect_ = false;  // the map listed a well-formed page that is not the table's
    std::uint64_t expected_ = 0;
    std::uint64_t given_ = 0;
    std::unordered_map<std::size_t, PageNumber> contents_;  // a digest of each page read, and the page
    std::vector<SalvageItem> losses_;
};

}  // namespace jet
