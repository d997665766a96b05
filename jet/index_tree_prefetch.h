#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "jet/index_tree.h"
#include "jet/page_number.h"

namespace jet {

class PageFile;

// Walks index trees on a thread of its own, through a page file of its own, ahead
// of the check that compares them with the rows. A tree's walk reads and decodes
// pages the rows never need, so it can run while the rows are read; the check then
// finds the tree ready. Trees come out in the order planned; a walk that threw
// hands its exception to whoever takes that tree.
class IndexTreePrefetch {
public:
    struct Walk {
        PageNumber root;
        PageNumber owner;  // the table's definition page
    };

    // `file` only lends its path and decoding settings: the walks open the file
    // again. At most `ahead` walked trees wait to be taken, and no more than fill
    // `readyBytes` (one always may).
    IndexTreePrefetch(const PageFile& file, IndexPageLayout layout, std::vector<Walk> plan, std::size_t ahead = 16,
                      std::size_t readyBytes = std::size_t{32} << 20);
    ~IndexTreePrefetch();
    IndexTreePrefetch(const IndexTreePrefetch&) = delete;
    IndexTreePrefetch& operator=(const IndexTreePrefetch&) = delete;

    // Moves the walk of `root` for `owner` into `tree` (whose old buffers are kept
    // for later walks), waiting for it if needed, and rethrows what that walk threw.
    // Planned walks before it that nobody took are dropped. False when no walk of
    // it is left in the plan: the caller walks it itself.
    bool take(PageNumber root, PageNumber owner, IndexTree& tree);

private:
    struct Result {
        std::size_t walk = 0;  // position in plan_
        IndexTree tree;
        std::exception_ptr error;
    };
    void run(std::string path, std::size_t pageSize, std::uint32_t databaseKey);
    void keepSpare(IndexTree&& tree);  // with the mutex held

    static std::size_t bytesOf(const IndexTree& tree);
    bool full() const;  // with the mutex held

    IndexPageLayout layout_;
    std::vector<Walk> plan_;
    std::size_t ahead_;
    std::size_t readyBytesLimit_;
    std::size_t readyBytes_ = 0;        // held by the trees in ready_

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Result> ready_;          // walked, not yet taken, in plan order
    std::vector<IndexTree> spare_;      // buffers of trees already used
    std::size_t neededFrom_ = 0;        // walks before it will never be taken
    bool stopping_ = false;
    bool finished_ = false;             // the thread has no more walks to do
    std::thread thread_;
};

}  // namespace jet
