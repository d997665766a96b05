#include "jet/check_read_ahead.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "jet/page_file.h"
#include "jet/jet_error.h"
#include "jet/usage_map.h"

namespace jet {

CheckReadAhead::CheckReadAhead(const PageFile& file, const FormatLayout& layout,
                               std::vector<const TableDefinition*> tables, std::size_t ahead, std::size_t readyBytes)
    : layout_(layout), ahead_(ahead == 0 ? 1 : ahead), readyBytesLimit_(readyBytes) {
    for (const TableDefinition* t : tables) {
        if (!t->longValueMaps.empty()) plan_.push_back(Job{t, true, {}});
        for (const PhysicalIndex& ix : t->physicalIndexes) plan_.push_back(Job{t, false, ix.rootPage});
    }
    thread_ = std::thread(&CheckReadAhead::run, this, file.path(), file.pageSize(), file.databaseKey());
}

CheckReadAhead::~CheckReadAhead() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::size_t CheckReadAhead::bytesOf(const Result& r) {
    return r.tree.entries.capacity() * sizeof(IndexTreeEntry) + r.tree.keyBytes.capacity() +
           r.tree.pages.capacity() * sizeof(IndexTreePage) + r.sweep.bytes();
}

bool CheckReadAhead::full() const {
    return !ready_.empty() && (ready_.size() >= ahead_ || readyBytes_ >= readyBytesLimit_);
}

void CheckReadAhead::keepSpare(Result&& r) {
    // One spare serves the reads; more would only hold memory.
    if (spare_.empty()) spare_.push_back(std::move(r));
}

void CheckReadAhead::read(PageFile& file, const Job& job, Result& result) const {
    const TableDefinition& t = *job.table;
    if (!job.longValues) {
        walkTableIndex(file, layout_.jet3, job.root, t.tdefPage, result.tree);
        return;
    }
    // The same pages the check lists from the maps it reads; a map that cannot be
    // read leaves its pages out, and a check that reads it differently sweeps itself.
    std::vector<std::uint32_t> pages;
    for (const LongValueMaps& m : t.longValueMaps) {
        if (m.ownedPages.page.isNull() || m.ownedPages.page.value >= file.pageCount()) continue;
        try {
            const UsageMap map = UsageMap::read(file, layout_, m.ownedPages);
            for (PageNumber p : map.pages())
                if (p.value < file.pageCount()) pages.push_back(p.value);
        } catch (const JetError&) {
        }
    }
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    result.sweep.run(file, layout_, std::move(pages));
}

void CheckReadAhead::run(std::string path, std::size_t pageSize, std::uint32_t databaseKey) {
    std::unique_ptr<PageFile> file;
    std::exception_ptr openError;
    try {
        // Tree pages are visited once and long-value pages are swept uncached: a
        // small cache serves the runs being read.
        file = std::make_unique<PageFile>(path, 2 * PageFile::kMaxRun);
        file->configure(pageSize, databaseKey);
    } catch (...) {
        openError = std::current_exception();
    }
    for (std::size_t j = 0;; ++j) {
        Result result;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !full(); });
            // Jobs the check has already gone past are not done at all.
            if (j < neededFrom_) j = neededFrom_;
            if (stopping_ || j >= plan_.size()) break;
            if (!spare_.empty()) {
                result = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        result.job = j;
        result.error = nullptr;
        try {
            if (openError) std::rethrow_exception(openError);
            read(*file, plan_[j], result);
        } catch (...) {
            result.error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            readyBytes_ += bytesOf(result);
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

template <class Matches>
std::optional<CheckReadAhead::Result> CheckReadAhead::take(std::unique_lock<std::mutex>& lock, Matches matches) {
    std::size_t wanted = neededFrom_;
    while (wanted < plan_.size() && !matches(plan_[wanted])) ++wanted;
    if (wanted >= plan_.size()) return std::nullopt;
    neededFrom_ = wanted;
    for (;;) {
        // Results of skipped jobs go back as spare buffers; the room they leave
        // lets the thread read on.
        while (!ready_.empty() && ready_.front().job < wanted) {
            readyBytes_ -= bytesOf(ready_.front());
            keepSpare(std::move(ready_.front()));
            ready_.pop_front();
        }
        if ((!ready_.empty() && ready_.front().job == wanted) || finished_) break;
        changed_.notify_all();
        changed_.wait(lock);
    }
    if (ready_.empty() || ready_.front().job != wanted) return std::nullopt;
    readyBytes_ -= bytesOf(ready_.front());
    std::optional<Result> result(std::move(ready_.front()));
    ready_.pop_front();
    neededFrom_ = wanted + 1;
    return result;
}

bool CheckReadAhead::takeTree(PageNumber root, PageNumber owner, IndexTree& tree) {
    std::unique_lock lock(mutex_);
    std::optional<Result> r =
        take(lock, [&](const Job& j) { return !j.longValues && j.root == root && j.table->tdefPage == owner; });
    if (!r) return false;
    std::swap(tree, r->tree);
    std::exception_ptr error = r->error;
    keepSpare(std::move(*r));
    lock.unlock();
    changed_.notify_all();
    if (error) std::rethrow_exception(error);
    return true;
}

bool CheckReadAhead::takeLongValues(PageNumber owner, const std::vector<std::uint32_t>& pages, LongValueSweep& sweep) {
    std::unique_lock lock(mutex_);
    std::optional<Result> r = take(lock, [&](const Job& j) { return j.longValues && j.table->tdefPage == owner; });
    if (!r) return false;
    const bool same = !r->error && r->sweep.pages == pages;
    if (same) std::swap(sweep, r->sweep);
    keepSpare(std::move(*r));
    lock.unlock();
    changed_.notify_all();
    return same;
}

}  // namespace jet
