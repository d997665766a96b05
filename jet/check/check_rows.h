#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "jet/check/finding.h"
#include "jet/check/long_value_sweep.h"
#include "jet/format/bulk_memory.h"
#include "jet/format/format_layout.h"
#include "jet/format/page_file.h"
#include "jet/format/page_number.h"
#include "jet/index/key_encoder.h"
#include "jet/table/chain_visits.h"
#include "jet/table/row_decoder.h"
#include "jet/table/table_definition.h"
#include "jet/table/usage_map.h"

namespace jet {

class DataPage;
class ValueDecoder;

inline constexpr std::uint32_t kNoKeyGap = 0xFFFFFFFFu;

// A 64-bit digest of key bytes, taken eight at a time and finished with a mixer
// so that keys differing only in their last bytes still spread over every bit.
std::uint64_t keyDigest(std::span<const std::uint8_t> key);

// The key a row should have in one physical index, kept as a 60-bit digest of
// its bytes: the stored entry is compared with it, and a table of many rows
// costs 8 bytes a row and index instead of a copy of every key. Four flags
// share the word; a key that could not be built keeps the number of its gap
// (into the index's list of gaps) where the digest would be.
class ExpectedEntry {
public:
    bool encoded() const { return bits_ & kEncoded; }  // false: see gap()
    bool anyNull() const { return bits_ & kAnyNull; }
    bool allNull() const { return (bits_ & kNotAllNull) == 0; }
    bool seen() const { return bits_ & kSeen; }  // met while walking the tree
    std::uint32_t gap() const { return encoded() ? kNoKeyGap : static_cast<std::uint32_t>(bits_ >> 4); }
    bool sameKey(std::uint64_t digest) const { return encoded() && (bits_ & ~kFlags) == (digest & ~kFlags); }

    void addColumn(bool null) {
        if (null) bits_ |= kAnyNull;
        else bits_ |= kNotAllNull;
    }
    void setSeen() { bits_ |= kSeen; }
    void setDigest(std::uint64_t digest) {
        bits_ = (bits_ & (kAnyNull | kNotAllNull | kSeen)) | (digest & ~kFlags) | kEncoded;
    }
    void setGap(std::uint32_t gap) { bits_ = (bits_ & (kAnyNull | kNotAllNull | kSeen)) | (std::uint64_t{gap} << 4); }

private:
    static constexpr std::uint64_t kEncoded = 1, kAnyNull = 2, kNotAllNull = 4, kSeen = 8, kFlags = 15;
    std::uint64_t bits_ = std::uint64_t{kNoKeyGap} << 4;
};
static_assert(sizeof(ExpectedEntry) == 8);

// A long-value row in use, and the row whose value it carries (for messages).
struct LongValueUse {
    RowPointer segment;
    RowPointer usedBy;
};

// What checking a table's rows reads and never changes while they are checked.
// Everything it points to outlives the check of the rows.
struct RowCheckPlan {
    struct Index {
        const KeyEncoder* encoder = nullptr;       // none: the key cannot be built
        std::vector<std::size_t> columnPositions;  // in TableDefinition::columns
        std::vector<bool> textAsUnits;             // per column: Jet4 text keyed from its UTF-16 units
    };
    const TableDefinition* table = nullptr;
    const FormatLayout* layout = nullptr;
    std::uint32_t pageCount = 0;
    std::size_t maxFindingsPerKind = 0;
    bool verifyIndexKeys = true;
    const std::unordered_set<std::uint32_t>* ownedPages = nullptr;
    const LongValueSweep* longValuePages = nullptr;
    // By column number: the column's long-value map (none if unreadable) and the
    // claimant of its pages (every Memo/OLE column has one).
    const std::unordered_map<std::uint16_t, std::optional<UsageMap>>* longValueMaps = nullptr;
    const std::unordered_map<std::uint16_t, std::uint32_t>* longValueClaimants = nullptr;
    std::vector<Index> indexes;
};

// What checking the rows of some data pages found, page by page and in the order
// the check met it: findings and page claims to be made in that order, the live
// rows with the entries they should have in each index, and the long-value rows
// their values use. The table's check takes each page into its own state only
// once it has claimed the page, so pages checked on two threads report exactly
// what one thread reading them in turn does.
struct RowScan {
    struct Step {
        enum class Kind : std::uint8_t {
            Finding,         // findings[a]
            Counted,         // one more finding of the kind of findings[a], beyond what is kept
            Claim,           // page a for claimant b
            OverflowTarget,  // moves[a]
        };
        Kind kind = Kind::Finding;
        std::uint32_t a = 0;
        std::uint32_t b = 0;
    };
    struct Page {
        PageNumber page;
        std::size_t stepsEnd = 0;  // ends of this page's part of the lists below
        std::size_t rowsEnd = 0;
        std::size_t usesEnd = 0;
        std::size_t rowsChecked = 0;
        std::optional<std::int64_t> maxAutonumber;
        std::exception_ptr error;  // the check of the rows stops here, as it would have
    };

    std::vector<Page> pages;
    std::vector<Step> steps;
    std::vector<Finding> findings;
    std::vector<std::pair<RowPointer, RowPointer>> moves;  // a moved row's new place, and the row
    BulkVector<RowPointer> rows;                      // first slot of each live row
    std::vector<BulkVector<ExpectedEntry>> expected;  // per index, parallel to rows
    std::vector<std::vector<KeyGap>> gaps;            // per index; numbered within this scan
    std::vector<LongValueUse> longValueUses;
    // Per finding code: how many this scan met, and the first one it kept.
    std::unordered_map<std::string, std::pair<std::size_t, std::uint32_t>> perCode;

    void clear();
};

// Checks the data pages of one table and their rows: the page layout, every row and
// value, moved (overflow) rows, and each long value's chain of rows; it builds the
// key each row should have in each index. It claims nothing and reports nothing
// itself: all goes into a RowScan. One scanner per thread, each with a page file
// and value decoder of its own.
class RowScanner {
public:
    RowScanner(const RowCheckPlan& plan, PageFile& file, ValueDecoder& values);

    // Adds `page` and what its rows show to `out` (whose indexes match the plan's).
    // An exception that would stop the check of the table is kept on the page.
    void scanPage(PageNumber page, RowScan& out);

private:
    void scanRows(PageNumber pn, RowScan::Page& record);
    void checkDataPageLayout(const DataPage& page);
    void checkRow(RowPointer location, RowPointer dataLocation, std::span<const std::uint8_t> raw, RowScan::Page& record);
    void checkValue(const Column& column, const FieldBytes& field, RowPointer at);
    void checkLongValue(const Column& column, std::span<const std::uint8_t> field, RowPointer at);
    PageRef readPage(PageNumber p);
    void damage(std::string code, std::string message, std::optional<std::uint32_t> page = std::nullopt,
                std::optional<int> row = std::nullopt);
    void add(Finding f);
    void claim(PageNumber page, std::uint32_t claimant);

    const RowCheckPlan& plan_;
    const TableDefinition& t_;
    const FormatLayout& layout_;
    PageFile& file_;
    ValueDecoder& values_;
    RowScan* out_ = nullptr;
    RowDecoder decoder_;
    RowFields fields_;
    std::vector<Value> scratch_;
    std::vector<KeyText> texts_;
    std::vector<std::vector<std::uint16_t>> textUnits_;
    ByteArena keyScratch_;
    std::vector<RowPointer> chainScratch_;         // one long value's segments
    ChainVisits chainVisits_;                      // and its cycle check
    std::vector<LongValueRowFacts> lvRowScratch_;  // one page read during a walk
};

class SharedRowScan;

// A thread that helps check the rows of one table at a time (see SharedRowScan),
// kept for a whole check so that no table waits for a thread to start. It reads
// through a page file and value decoder of its own. Between tables it runs other
// work it is given.
class RowScanHelper {
public:
    // `file` only lends its path and decoding settings. Throws when no thread can
    // be started.
    RowScanHelper(const PageFile& file, const FormatLayout& layout, std::uint16_t databaseCodePage);
    ~RowScanHelper();
    RowScanHelper(const RowScanHelper&) = delete;
    RowScanHelper& operator=(const RowScanHelper&) = delete;

    // Runs `job` on the thread once the work given before is done, a scan it is
    // asked to help with first. False when the thread runs nothing more: the
    // caller runs it. Work not begun when this object goes is never run.
    bool post(std::function<void()> job);

    // Work for the thread when it has nothing else to do: each call does a piece
    // through the thread's page file and answers whether there was one. Cleared
    // (null) once the thread has left it.
    void setSpareWork(std::function<bool(PageFile&)> work);

private:
    friend class SharedRowScan;
    void join(SharedRowScan& scan);   // the thread takes chunks of `scan` too
    void leave(SharedRowScan& scan);  // returns once the thread is done with `scan`
    void work(std::string path, std::size_t pageSize, std::uint32_t databaseKey, std::uint16_t codePage);

    const FormatLayout& layout_;
    std::mutex mutex_;
    std::condition_variable changed_;
    SharedRowScan* scan_ = nullptr;  // the scan to help with, or being helped
    bool begun_ = false;             // the thread is on scan_
    std::deque<std::function<void()>> jobs_;
    std::function<bool(PageFile&)> spareWork_;
    bool spareRunning_ = false;  // the thread is in spareWork_
    bool spareDry_ = false;      // it had nothing the last time: asked again once work comes
    bool noFile_ = false;            // the thread could not open the file: it helps no scan
    bool stopping_ = false;
    std::thread thread_;
};

// Checks the rows of a table's data pages a chunk of pages at a time, on the
// calling thread and on a helper thread: each takes the next chunk nobody has
// begun, so neither waits for a share the other has not reached. The caller takes
// the chunks' scans in page order.
class SharedRowScan {
public:
    // The plan and the pages must outlive this object. With no helper, the
    // caller scans every chunk.
    SharedRowScan(const RowCheckPlan& plan, std::span<const PageNumber> pages, std::size_t chunkPages,
                  RowScanHelper* helper);
    ~SharedRowScan();
    SharedRowScan(const SharedRowScan&) = delete;
    SharedRowScan& operator=(const SharedRowScan&) = delete;

    // Calls `take` with the scan of each chunk in page order, scanning with `here`
    // (over the caller's page file) every chunk the helper has not begun. An
    // exception from `take` ends the scan.
    void run(RowScanner& here, PageFile& file, const std::function<void(const RowScan&)>& take);

private:
    friend class RowScanHelper;
    enum class State : std::uint8_t { Unbegun, Scanning, Done, Failed };
    struct Chunk {
        State state = State::Unbegun;  // guarded by mutex_
        RowScan scan;
    };
    std::optional<std::size_t> claim();  // the next chunk nobody has begun
    std::span<const PageNumber> pagesOf(std::size_t chunk) const;
    void scanChunk(std::size_t chunk, RowScanner& scanner, PageFile& file);  // into the chunk's scan
    void help(PageFile& file, ValueDecoder& values);  // on the helper thread

    const RowCheckPlan& plan_;
    std::span<const PageNumber> pages_;
    std::size_t chunkPages_;
    RowScanHelper* helper_;
    std::vector<Chunk> chunks_;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable done_;
};

}  // namespace jet
