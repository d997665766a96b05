#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jet/format_layout.h"
#include "jet/index_tree.h"
#include "jet/long_value_sweep.h"
#include "jet/page_number.h"
#include "jet/table_definition.h"

namespace jet {

class PageFile;

// Reads on a thread of its own, through a page file of its own, what the check of
// each table will need and can be read without it: the sweep of the table's
// long-value pages and the walk of each of its index trees. These read pages the
// rows never need, so they run while the check reads rows (of this table or the
// one before); the check then finds them ready. Results come out in the order
// planned; one whose reading threw hands its exception to whoever takes it.
class CheckReadAhead {
public:
    // `file` only lends its path and decoding settings: the reads open the file
    // again. The tables must outlive this object. At most `ahead` results wait to
    // be taken, and no more than fill `readyBytes` (one always may).
    CheckReadAhead(const PageFile& file, const FormatLayout& layout, std::vector<const TableDefinition*> tables,
                   std::size_t ahead = 16, std::size_t readyBytes = std::size_t{8} << 20);
    ~CheckReadAhead();
    CheckReadAhead(const CheckReadAhead&) = delete;
    CheckReadAhead& operator=(const CheckReadAhead&) = delete;

    // Moves the walk of `root` for the table at `owner` into `tree` (whose old
    // buffers are kept for later walks), waiting for it if needed, and rethrows
    // what the walk threw. False when no such walk is left in the plan: the caller
    // walks it itself.
    bool takeTree(PageNumber root, PageNumber owner, IndexTree& tree);

    // Moves the sweep of the long-value pages of the table at `owner` into `sweep`,
    // waiting for it if needed. False when none is left in the plan or it swept
    // other pages than `pages` (the caller's reading of the maps): the caller
    // sweeps itself.
    bool takeLongValues(PageNumber owner, const std::vector<std::uint32_t>& pages, LongValueSweep& sweep);

    // Results planned before one taken and never taken themselves are dropped.

private:
    struct Job {
        const TableDefinition* table = nullptr;
        bool longValues = false;  // else the walk of `root`
        PageNumber root;
    };
    struct Result {
        std::size_t job = 0;  // position in plan_
        IndexTree tree;
        LongValueSweep sweep;
        std::exception_ptr error;
    };
    void run(std::string path, std::size_t pageSize, std::uint32_t databaseKey);
    void read(PageFile& file, const Job& job, Result& result) const;
    // With the mutex held: waits for the first job from neededFrom_ that `matches`,
    // dropping those before it; nullopt when none is left.
    template <class Matches>
    std::optional<Result> take(std::unique_lock<std::mutex>& lock, Matches matches);
    static std::size_t bytesOf(const Result& r);
    bool full() const;                   // with the mutex held
    void keepSpare(Result&& r);          // with the mutex held

    FormatLayout layout_;
    std::vector<Job> plan_;
    std::size_t ahead_;
    std::size_t readyBytesLimit_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Result> ready_;          // read, not yet taken, in plan order
    std::size_t readyBytes_ = 0;        // held by the results in ready_
    std::vector<Result> spare_;         // buffers of results already used
    std::size_t neededFrom_ = 0;        // jobs before it will never be taken
    bool stopping_ = false;
    bool finished_ = false;             // the thread has no more jobs to do
    std::thread thread_;
};

}  // namespace jet
