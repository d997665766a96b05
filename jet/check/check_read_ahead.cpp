#include "jet/check/check_read_ahead.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "jet/format/jet_error.h"
#include "jet/format/page_file.h"
#include "jet/table/usage_map.h"

namespace jet {

namespace {

// The pages an index's usage map lists, for reading its tree in clusters; none
// when the map cannot be read (the walk reads page by page, the check reports it).
std::vector<PageNumber> indexPagesOf(PageFile& file, const FormatLayout& layout, RowPointer usageMap) {
    if (usageMap.page.isNull() || usageMap.page.value >= file.pageCount()) return {};
    try {
        return UsageMap::read(file, layout, usageMap).pages();
    } catch (const JetError&) {
        return {};
    }
}

}  // namespace

CheckReadAhead::CheckReadAhead(const PageFile& file, const FormatLayout& layout,
                               std::vector<const TableDefinition*> tables, std::size_t ahead, std::size_t readyBytes,
                               std::vector<bool> freePages)
    : layout_(layout),
      tables_(std::move(tables)),
      free_(std::move(freePages)),
      ahead_(ahead == 0 ? 1 : ahead),
      readyBytesLimit_(readyBytes) {
    // Sweeps are needed before a table's rows, walks only after them: with the
    // sweeps first, the thread is busy with pages the rows will need soonest.
    for (std::size_t i = 0; i < tables_.size(); ++i)
        if (!tables_[i]->longValueMaps.empty()) plan_.push_back(Job{tables_[i], i, Kind::LongValues, {}, {}});
    for (std::size_t i = 0; i < tables_.size(); ++i)
        for (const PhysicalIndex& ix : tables_[i]->physicalIndexes)
            plan_.push_back(Job{tables_[i], i, Kind::Tree, ix.rootPage, ix.usageMap});
    if (!free_.empty())
        for (std::size_t k = 0; k < kLeakedSlices; ++k)
            plan_.push_back(Job{nullptr, tables_.size(), Kind::LeakedPages, {}, {}, k});
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
           r.tree.pages.capacity() * sizeof(IndexTreePage) + r.sweep.bytes() + r.leaked.capacity() * sizeof(LeakedPage);
}

bool CheckReadAhead::full() const {
    return !ready_.empty() && (ready_.size() >= ahead_ || readyBytes_ >= readyBytesLimit_);
}

void CheckReadAhead::keepSpare(Result&& r) {
    // One spare serves the reads; more would only hold memory.
    if (spare_.empty()) spare_.push_back(std::move(r));
}

void CheckReadAhead::read(PageFile& file, const Job& job, Result& result) const {
    if (job.kind == Kind::LeakedPages) {
        readLeakedSlice(file, job.slice, result.leaked);
        return;
    }
    const TableDefinition& t = *job.table;
    if (job.kind == Kind::Tree) {
        walkTableIndex(file, layout_.jet3, job.root, t.tdefPage, result.tree, indexPagesOf(file, layout_, job.usageMap));
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

void CheckReadAhead::readLeakedSlice(PageFile& file, std::size_t slice, std::vector<LeakedPage>& out) const {
    // The first slice read works them out for all.
    std::call_once(unlistedOnce_, [&] { unlisted_ = unlistedPages(file); });
    const std::size_t from = unlisted_.size() * slice / kLeakedSlices;
    const std::size_t to = unlisted_.size() * (slice + 1) / kLeakedSlices;
    out.clear();
    for (std::size_t i = from; i < to; ++i) out.push_back(LeakedPage{unlisted_[i]});
    readLeakedPages(file, out);
}

// The pages the global map does not mark free and no structure of a table lists:
// its definition, the maps of its pages, long values and indexes, and the pages
// holding those maps. The check will find them used by nobody, unless damage
// makes it read the file otherwise; then some are read twice, or here in vain.
std::vector<std::uint32_t> CheckReadAhead::unlistedPages(PageFile& file) const {
    const std::uint32_t pageCount = file.pageCount();
    std::vector<bool> listed(free_.begin(), free_.end());
    listed.resize(pageCount, true);  // a map shorter than the file: nothing read past it
    const auto list = [&](PageNumber p) {
        if (p.value < pageCount) listed[p.value] = true;
    };
    const auto listMap = [&](RowPointer where) {
        if (where.page.isNull() || where.page.value >= pageCount) return;
        list(where.page);
        try {
            const UsageMap map = UsageMap::read(file, layout_, where);
            for (PageNumber p : map.bitmapPages()) list(p);
            for (PageNumber p : map.pages()) list(p);
        } catch (const JetError&) {
            // Its pages are read here in vain, or read by the accounting.
        }
    };
    list(PageNumber(0));
    list(PageNumber(1));
    for (const TableDefinition* t : tables_) {
        for (PageNumber p : t->tdefPages) list(p);
        listMap(t->ownedPagesMap);
        listMap(t->freeSpaceMap);
        for (const LongValueMaps& m : t->longValueMaps) {
            listMap(m.ownedPages);
            listMap(m.freeSpacePages);
        }
        for (const PhysicalIndex& ix : t->physicalIndexes) listMap(ix.usageMap);
    }
    std::vector<std::uint32_t> unlisted;
    for (std::uint32_t n = 0; n < pageCount; ++n)
        if (!listed[n]) unlisted.push_back(n);
    return unlisted;
}

void CheckReadAhead::run(std::string path, std::size_t pageSize, std::uint32_t databaseKey) {
    std::unique_ptr<PageFile> file;
    try {
        // Tree pages are visited once and long-value pages are swept uncached: a
        // small cache serves the runs being read.
        file = std::make_unique<PageFile>(path, 2 * PageFile::kMaxRun);
        file->configure(pageSize, databaseKey);
    } catch (...) {
        // Nothing can be read here: every take answers that the caller reads.
        std::lock_guard lock(mutex_);
        finished_ = true;
        changed_.notify_all();
        return;
    }
    for (;;) {
        Result result;
        std::size_t j = 0;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopping_ || !full(); });
            const std::optional<std::size_t> next = claimNext(result);
            if (!next) break;
            j = *next;
        }
        readAndPublish(*file, j, std::move(result));
    }
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    changed_.notify_all();
}

std::optional<std::size_t> CheckReadAhead::claimNext(Result& result) {
    // Jobs given up, or of tables already checked, are not read at all.
    while (next_ < plan_.size() && (plan_[next_].state != State::Planned || plan_[next_].tableIndex < tablesDone_))
        ++next_;
    if (stopping_ || next_ >= plan_.size()) return std::nullopt;
    const std::size_t j = next_++;
    plan_[j].state = State::Reading;
    if (!spare_.empty()) {
        result = std::move(spare_.back());
        spare_.pop_back();
    }
    return j;
}

void CheckReadAhead::readAndPublish(PageFile& file, std::size_t j, Result result) {
    result.job = j;
    result.error = nullptr;
    try {
        read(file, plan_[j], result);
    } catch (...) {
        result.error = std::current_exception();
    }
    {
        std::lock_guard lock(mutex_);
        if (plan_[j].tableIndex < tablesDone_) {
            plan_[j].state = State::Gone;
            keepSpare(std::move(result));
        } else {
            plan_[j].state = State::Ready;
            readyBytes_ += bytesOf(result);
            ready_.push_back(std::move(result));
        }
    }
    changed_.notify_all();
}

bool CheckReadAhead::readOne(PageFile& file) {
    Result result;
    std::size_t j = 0;
    {
        std::lock_guard lock(mutex_);
        if (full()) return false;
        const std::optional<std::size_t> next = claimNext(result);
        if (!next) return false;
        j = *next;
    }
    readAndPublish(file, j, std::move(result));
    return true;
}

void CheckReadAhead::dropTablesBefore(std::size_t tableIndex) {
    if (tableIndex <= tablesDone_) return;
    tablesDone_ = tableIndex;
    // Their buffers go back as spares; the room they leave lets the thread read on.
    for (auto it = ready_.begin(); it != ready_.end();) {
        Job& job = plan_[it->job];
        if (job.tableIndex >= tablesDone_) {
            ++it;
            continue;
        }
        job.state = State::Gone;
        readyBytes_ -= bytesOf(*it);
        keepSpare(std::move(*it));
        it = ready_.erase(it);
    }
    changed_.notify_all();
}

template <class Matches>
std::optional<CheckReadAhead::Result> CheckReadAhead::take(std::unique_lock<std::mutex>& lock, Unstarted unstarted,
                                                           Matches matches) {
    std::size_t wanted = 0;
    while (wanted < plan_.size() && (plan_[wanted].state == State::Gone || !matches(plan_[wanted]))) ++wanted;
    if (wanted >= plan_.size()) return std::nullopt;
    dropTablesBefore(plan_[wanted].tableIndex);
    Job& job = plan_[wanted];
    for (;;) {
        if (job.state == State::Ready) break;
        // A job not begun is given up when the caller would rather read it than
        // wait, when nothing will read it, or when the results waiting leave the
        // thread no room to reach it.
        if (job.state == State::Planned &&
            (unstarted == Unstarted::ReadHere || finished_ || full() || job.tableIndex < tablesDone_)) {
            job.state = State::Gone;
            return std::nullopt;
        }
        if (job.state == State::Gone) return std::nullopt;
        changed_.wait(lock);
    }
    auto it = std::find_if(ready_.begin(), ready_.end(), [&](const Result& r) { return r.job == wanted; });
    std::optional<Result> result(std::move(*it));
    ready_.erase(it);
    readyBytes_ -= bytesOf(*result);
    job.state = State::Gone;
    return result;
}

bool CheckReadAhead::takeTree(PageNumber root, PageNumber owner, IndexTree& tree, Unstarted unstarted) {
    std::unique_lock lock(mutex_);
    std::optional<Result> r =
        take(lock, unstarted,
             [&](const Job& j) { return j.kind == Kind::Tree && j.root == root && j.table->tdefPage == owner; });
    if (!r) return false;
    std::swap(tree, r->tree);
    std::exception_ptr error = std::move(r->error);  // the spare keeps no share of it
    keepSpare(std::move(*r));
    lock.unlock();
    changed_.notify_all();
    if (error) std::rethrow_exception(error);
    return true;
}

bool CheckReadAhead::takeLongValues(PageNumber owner, const std::vector<std::uint32_t>& pages, LongValueSweep& sweep,
                                    Unstarted unstarted) {
    std::unique_lock lock(mutex_);
    std::optional<Result> r =
        take(lock, unstarted, [&](const Job& j) { return j.kind == Kind::LongValues && j.table->tdefPage == owner; });
    if (!r) return false;
    const bool same = !r->error && r->sweep.pages == pages;
    if (same) std::swap(sweep, r->sweep);
    keepSpare(std::move(*r));
    lock.unlock();
    changed_.notify_all();
    return same;
}

bool CheckReadAhead::takeLeakedPages(std::vector<LeakedPage>& pages, Unstarted unstarted) {
    std::vector<LeakedPage> read;
    bool any = false;
    for (std::size_t k = 0; k < kLeakedSlices; ++k) {
        std::unique_lock lock(mutex_);
        std::optional<Result> r =
            take(lock, unstarted, [k](const Job& j) { return j.kind == Kind::LeakedPages && j.slice == k; });
        if (!r) continue;
        if (!r->error) {
            read.insert(read.end(), r->leaked.begin(), r->leaked.end());
            any = true;
        }
        r->error = nullptr;
        keepSpare(std::move(*r));
        lock.unlock();
        changed_.notify_all();
    }
    if (any) pages = std::move(read);
    return any;
}

}  // namespace jet
