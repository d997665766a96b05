#include "jet/index_tree_prefetch.h"

#include <utility>

#include "jet/page_file.h"

namespace jet {

IndexTreePrefetch::IndexTreePrefetch(const PageFile& file, IndexPageLayout layout, std::vector<Walk> plan,
                                     std::size_t ahead, std::size_t readyBytes)
    : layout_(layout), plan_(std::move(plan)), ahead_(ahead == 0 ? 1 : ahead), readyBytesLimit_(readyBytes) {
    thread_ = std::thread(&IndexTreePrefetch::run, this, file.path(), file.pageSize(), file.databaseKey());
}

IndexTreePrefetch::~IndexTreePrefetch() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::size_t IndexTreePrefetch::bytesOf(const IndexTree& tree) {
    return tree.entries.capacity() * sizeof(IndexTreeEntry) + tree.keyBytes.capacity() +
           tree.pages.capacity() * sizeof(IndexTreePage);
}

bool IndexTreePrefetch::full() const {
    return !ready_.empty() && (ready_.size() >= ahead_ || readyBytes_ >= readyBytesLimit_);
}

void IndexTreePrefetch::run(std::string path, std::size_t pageSize, std::uint32_t databaseKey) {
    std::unique_ptr<PageFile> file;
    std::exception_ptr openError;
    try {
        file = std::make_unique<PageFile>(path);
        file->configure(pageSize, databaseKey);
    } catch (...) {
        openError = std::current_exception();
    }
    for (std::size_t w = 0;; ++w) {
        Result result;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !full(); });
            // Walks the check has already gone past are not done at all.
            if (w < neededFrom_) w = neededFrom_;
            if (stopping_ || w >= plan_.size()) break;
            if (!spare_.empty()) {
                result.tree = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        result.walk = w;
        try {
            if (openError) std::rethrow_exception(openError);
            IndexTreeWalker walker(
                [&file](PageNumber p) {
                    PageRef ref = file->page(p);
                    return IndexPageData{ref, ref->span()};
                },
                layout_, file->pageCount(), 16);
            walker.walk(plan_[w].root, plan_[w].owner, result.tree);
        } catch (...) {
            result.error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            readyBytes_ += bytesOf(result.tree);
            ready_.push_back(std::move(result));
        }
        changed_.notify_all();
    }
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

void IndexTreePrefetch::keepSpare(IndexTree&& tree) {
    // Two spare trees serve the walks; more would only hold memory.
    if (spare_.size() < 2) spare_.push_back(std::move(tree));
}

bool IndexTreePrefetch::take(PageNumber root, PageNumber owner, IndexTree& tree) {
    std::unique_lock lock(mutex_);
    std::size_t wanted = neededFrom_;
    while (wanted < plan_.size() && !(plan_[wanted].root == root && plan_[wanted].owner == owner)) ++wanted;
    if (wanted >= plan_.size()) return false;
    neededFrom_ = wanted;
    for (;;) {
        // Trees of skipped walks go back as spare buffers; the room they leave
        // lets the thread walk on.
        while (!ready_.empty() && ready_.front().walk < wanted) {
            readyBytes_ -= bytesOf(ready_.front().tree);
            keepSpare(std::move(ready_.front().tree));
            ready_.pop_front();
        }
        if ((!ready_.empty() && ready_.front().walk == wanted) || finished_) break;
        changed_.notify_all();
        changed_.wait(lock);
    }
    if (ready_.empty() || ready_.front().walk != wanted) return false;
    readyBytes_ -= bytesOf(ready_.front().tree);
    Result result = std::move(ready_.front());
    ready_.pop_front();
    neededFrom_ = wanted + 1;
    keepSpare(std::move(tree));
    tree = std::move(result.tree);
    lock.unlock();
    changed_.notify_all();
    if (result.error) std::rethrow_exception(result.error);
    return true;
}

}  // namespace jet
