#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "jet/check/leaked_pages.h"
#include "jet/check/long_value_sweep.h"
#include "jet/format/format_layout.h"
#include "jet/format/page_number.h"
#include "jet/index/index_tree.h"
#include "jet/table/table_definition.h"

namespace jet {

class PageFile;

// Reads on a thread of its own, through a page file of its own, what the check of
// each table will need and can be read without it: the sweep of the table's
// long-value pages and the walk of each of its index trees. These read pages the
// rows never need, so they run while the check reads rows; the check then finds
// them ready. A result whose reading threw hands its exception to whoever takes
// it. The check takes a table's sweep before its rows and its walks after them,
// so the sweeps of every table are read first, then the walks. Last, given the
// global map, it reads the pages that no table's structures list and the map does
// not mark free: the ones the check's accounting will find nobody used. Another
// thread with time to spare may read results of the plan too (readOne).
class CheckReadAhead {
public:
    // What a take does when the thread has not begun the result asked for.
    enum class Unstarted {
        Wait,      // waits for the thread to read it (unless the results waiting
                   // to be taken leave the thread no room to reach it)
        ReadHere,  // gives it up (the take answers false) so the caller reads it
                   // while the thread goes on with the next: neither waits
    };

    // `file` only lends its path and decoding settings: the reads open the file
    // again. The tables, in the order they will be checked, must outlive this
    // object. At most `ahead` results wait to be taken, and no more than fill
    // `readyBytes` (one always may). `freePages`: one per page of the file, true
    // where the global map marks it free; none, and no pages are read for the
    // accounting.
    CheckReadAhead(const PageFile& file, const FormatLayout& layout, std::vector<const TableDefinition*> tables,
                   std::size_t ahead = kAhead, std::size_t readyBytes = kReadyBytes, std::vector<bool> freePages = {});
    static constexpr std::size_t kAhead = 16;
    static constexpr std::size_t kReadyBytes = std::size_t{8} << 20;
    ~CheckReadAhead();
    CheckReadAhead(const CheckReadAhead&) = delete;
    CheckReadAhead& operator=(const CheckReadAhead&) = delete;

    // Moves the walk of `root` for the table at `owner` into `tree` (whose old
    // buffers are kept for later walks), waiting for it if it is being read, and
    // rethrows what the walk threw. False when no such walk is left in the plan,
    // or it was given up unstarted: the caller walks it itself.
    bool takeTree(PageNumber root, PageNumber owner, IndexTree& tree, Unstarted unstarted = Unstarted::ReadHere);

    // Moves the sweep of the long-value pages of the table at `owner` into `sweep`,
    // waiting for it if it is being read. False when none is left in the plan, it
    // was given up unstarted, or it swept other pages than `pages` (the caller's
    // reading of the maps): the caller sweeps itself.
    bool takeLongValues(PageNumber owner, const std::vector<std::uint32_t>& pages, LongValueSweep& sweep,
                        Unstarted unstarted = Unstarted::ReadHere);

    // Moves what the pages no structure lists hold into `pages` (ascending),
    // waiting for those being read. Those not begun are given up (unless the take
    // waits); the caller reads them. False when none were read.
    bool takeLeakedPages(std::vector<LeakedPage>& pages, Unstarted unstarted = Unstarted::ReadHere);

    // Any take drops the results of tables checked before the one of the result
    // taken that were never taken themselves.

    // Reads the next result of the plan on the calling thread, through `file`
    // (another thread with time to spare lends it): false when none is left or
    // the results waiting leave no room.
    bool readOne(PageFile& file);

private:
    enum class State : std::uint8_t { Planned, Reading, Ready, Gone };
    enum class Kind : std::uint8_t { LongValues, Tree, LeakedPages };
    struct Job {
        const TableDefinition* table = nullptr;  // none for the leaked pages
        std::size_t tableIndex = 0;  // in the order of checking (after every table for the leaked pages)
        Kind kind = Kind::LongValues;
        PageNumber root;             // of a tree
        RowPointer usageMap;         // of the index: the pages its walk will read
        std::size_t slice = 0;       // of the leaked pages
        State state = State::Planned;
    };
    struct Result {
        std::size_t job = 0;  // position in plan_
        IndexTree tree;
        LongValueSweep sweep;
        std::vector<LeakedPage> leaked;
        std::exception_ptr error;
    };
    void run(std::string path, std::size_t pageSize, std::uint32_t databaseKey);
    void read(PageFile& file, const Job& job, Result& result) const;
    // With the mutex held: the next job to read, marked as being read, and a
    // spare result's buffers in `result`; none when the plan is done.
    std::optional<std::size_t> claimNext(Result& result);
    void readAndPublish(PageFile& file, std::size_t job, Result result);
    // The pages of `slice` (of kLeakedSlices) that no structure lists.
    void readLeakedSlice(PageFile& file, std::size_t slice, std::vector<LeakedPage>& out) const;
    std::vector<std::uint32_t> unlistedPages(PageFile& file) const;
    // Read in slices, so that two threads share them and a check that gets there
    // first waits only for the ones begun.
    static constexpr std::size_t kLeakedSlices = 8;
    // With the mutex held: the result of the first job not gone that `matches`,
    // once read; nullopt when there is none or it is given up.
    template <class Matches>
    std::optional<Result> take(std::unique_lock<std::mutex>& lock, Unstarted unstarted, Matches matches);
    void dropTablesBefore(std::size_t tableIndex);  // with the mutex held
    static std::size_t bytesOf(const Result& r);
    bool full() const;                   // with the mutex held
    void keepSpare(Result&& r);          // with the mutex held

    FormatLayout layout_;
    std::vector<const TableDefinition*> tables_;
    std::vector<bool> free_;
    mutable std::once_flag unlistedOnce_;
    mutable std::vector<std::uint32_t> unlisted_;  // worked out by the first slice read
    std::vector<Job> plan_;
    std::size_t ahead_;
    std::size_t readyBytesLimit_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Result> ready_;          // read, not yet taken
    std::size_t readyBytes_ = 0;        // held by the results in ready_
    std::vector<Result> spare_;         // buffers of results already used
    std::size_t next_ = 0;              // the first job the thread may still read
    std::size_t tablesDone_ = 0;        // tables before this one are checked
    bool stopping_ = false;
    bool finished_ = false;             // the thread reads no more (or could not open the file)
    std::thread thread_;
};

}  // namespace jet
