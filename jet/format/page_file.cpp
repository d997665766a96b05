#include "jet/format/page_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jet/format/jet_error.h"
#include "jet/format/rc4.h"

namespace jet {

// Consecutive pages read by one call. The pages point into its buffer, which
// goes back to the pool (kept alive by the run) when the last page is let go.
struct PageFile::Run {
    std::shared_ptr<PageBufferPool> pool;
    PageBufferPool::Buffer buffer;  // not zero-filled: every byte used is read
    std::vector<PageBuffer> pages;

    ~Run() {
        if (pool) pool->give(buffer);
    }
    std::uint8_t* data() const { return buffer.data; }
    std::size_t capacity() const { return pool->bytesOf(buffer); }
};

PageRef makePage(PageNumber number, std::vector<std::uint8_t> bytes) {
    struct Owned {
        std::vector<std::uint8_t> storage;
        PageBuffer page;
    };
    auto owned = std::make_shared<Owned>();
    owned->storage = std::move(bytes);
    owned->page.number = number;
    owned->page.bytes = owned->storage;
    return PageRef(owned, &owned->page);
}

std::string nonRegularFileKind(std::uint32_t mode) {
    if (S_ISDIR(mode)) return "uma pasta";
    if (S_ISFIFO(mode)) return "um pipe nomeado (FIFO)";
    if (S_ISSOCK(mode)) return "um socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "um dispositivo";
    return "um arquivo especial";
}

PageFile::PageFile(const std::string& path, std::size_t cachePages) : path_(path), cachePages_(cachePages) {
    // Non-blocking, so that opening a pipe or a device does not wait for a
    // writer or the hardware; only a regular file is kept open.
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd_ < 0) {
        const int err = errno;
        throw JetError(ErrorKind::Io, "Não foi possível abrir o arquivo " + path,
                       "open(" + path + "): " + std::strerror(err));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        throw JetError(ErrorKind::Io, "Não foi possível abrir o arquivo " + path,
                       "fstat(" + path + "): " + std::strerror(err));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw JetError(ErrorKind::Io,
                       "O arquivo " + path + " não é um arquivo comum (é " + nonRegularFileKind(st.st_mode) +
                           ") e não pode ser lido como banco de dados",
                       "not a regular file");
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags >= 0) (void)::fcntl(fd_, F_SETFL, flags & ~O_NONBLOCK);
    fileSize_ = static_cast<std::uint64_t>(st.st_size);
    configure(pageSize_, 0);
}

PageFile::~PageFile() {
    if (fd_ >= 0) ::close(fd_);
}

std::vector<std::uint8_t> PageFile::readAt(std::uint64_t offset, std::size_t n) const {
    std::vector<std::uint8_t> out(n);
    out.resize(readInto(offset, out.data(), n));
    return out;
}

std::size_t PageFile::readInto(std::uint64_t offset, std::uint8_t* out, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd_, out + done, n - done, static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            throw JetError(ErrorKind::Io, "Erro de leitura no arquivo " + path_,
                           "pread at " + std::to_string(offset + done) + ": " + std::strerror(err));
        }
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void PageFile::configure(std::size_t pageSize, std::uint32_t databaseKey) {
    pageSize_ = pageSize;
    databaseKey_ = databaseKey;
    pageCount_ = static_cast<std::uint32_t>(std::min<std::uint64_t>(fileSize_ / pageSize_, 0xFFFFFFFFu));
    cached_.clear();
    runs_.clear();
    runPages_ = 0;
    spare_.clear();
    // Runs still held elsewhere keep the old pool alive.
    pool_ = std::make_shared<PageBufferPool>(pageSize_);
    streams_ = {};
    misses_ = 0;
    plan_.clear();
    planNext_ = 0;
}

std::shared_ptr<PageFile::Run> PageFile::readRun(std::uint32_t first, std::uint32_t count) {
    const std::size_t size = std::size_t{count} * pageSize_;
    std::shared_ptr<Run> run;
    for (auto it = spare_.begin(); it != spare_.end(); ++it) {
        if ((*it)->capacity() < size) continue;
        run = std::move(*it);
        spare_.erase(it);
        break;
    }
    if (!run) {
        // Buffers come in powers of two pages: cached runs never hold more than
        // twice the pages they cache, and spare ones fit most later runs.
        run = std::make_shared<Run>();
        run->buffer = pool_->take(count);
        run->pool = pool_;
    }
    const std::size_t got = readInto(std::uint64_t{first} * pageSize_, run->data(), size);
    // The file may have shrunk since it was opened: keep the whole pages that came.
    const std::uint32_t whole = static_cast<std::uint32_t>(got / pageSize_);
    run->pages.resize(whole);
    for (std::uint32_t i = 0; i < whole; ++i) {
        PageBuffer& p = run->pages[i];
        p.number = PageNumber(first + i);
        std::span<std::uint8_t> bytes(run->data() + std::size_t{i} * pageSize_, pageSize_);
        // Encoded Jet3/Jet4 databases: every page after page 0 is RC4 with key (database key XOR page).
        if (databaseKey_ != 0 && p.number.value != 0) rc4Apply(databaseKey_ ^ p.number.value, bytes);
        p.bytes = bytes;
    }
    return run;
}

void PageFile::evictOldest() {
    std::shared_ptr<Run> old = std::move(runs_.front());
    runs_.pop_front();
    runPages_ -= old->pages.size();
    for (const PageBuffer& p : old->pages) {
        // A page already cached from an earlier run was not taken from this one.
        auto it = cached_.find(p.number.value);
        if (it != cached_.end() && it->second.get() == &p) cached_.erase(it);
    }
    // Only this function holds it now: no page handed out is still alive, so its
    // buffer can be read into again.
    if (old.use_count() == 1 && spare_.size() < kSpareRuns) spare_.push_back(std::move(old));
}

namespace {

// The end of the stretch of `pages` from `i` (ascending) that one read of at most
// `maxRun` pages covers, stopping at `limit` (the end of the file).
std::size_t stretchEnd(std::span<const std::uint32_t> pages, std::size_t i, std::uint32_t maxRun,
                       std::uint32_t limit) {
    std::size_t j = i + 1;
    while (j < pages.size() && pages[j] > pages[j - 1] && pages[j] - pages[i] < maxRun && pages[j] < limit) ++j;
    return j;
}

}  // namespace

void PageFile::plan(std::vector<std::uint32_t> pages) {
    if (!std::is_sorted(pages.begin(), pages.end())) std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    plan_ = std::move(pages);
    planNext_ = 0;
}

PlannedReads::PlannedReads(PageFile& file, std::span<const PageNumber> pages) : file_(file) {
    std::vector<std::uint32_t> numbers;
    numbers.reserve(pages.size());
    for (PageNumber p : pages) numbers.push_back(p.value);
    file_.plan(std::move(numbers));
}

void PageFile::forEachPage(std::span<const std::uint32_t> pages, const std::function<void(const PageBuffer&)>& visit) {
    std::vector<std::uint8_t> buffer(std::size_t{kMaxRun} * pageSize_);
    PageBuffer page;
    std::size_t i = 0;
    while (i < pages.size()) {
        const std::uint32_t first = pages[i];
        if (first >= pageCount_) break;  // ascending: every later one is past the end too
        // The wanted pages from here that one read covers; those between are read and skipped.
        const std::size_t j = stretchEnd(pages, i, kMaxRun, pageCount_);
        const std::uint32_t count = pages[j - 1] - first + 1;
        const std::size_t got = readInto(std::uint64_t{first} * pageSize_, buffer.data(), std::size_t{count} * pageSize_);
        const std::uint32_t whole = static_cast<std::uint32_t>(got / pageSize_);
        for (std::size_t k = i; k < j && pages[k] - first < whole; ++k) {
            const std::span<std::uint8_t> bytes(buffer.data() + std::size_t{pages[k] - first} * pageSize_, pageSize_);
            page.number = PageNumber(pages[k]);
            if (databaseKey_ != 0 && page.number.value != 0) rc4Apply(databaseKey_ ^ page.number.value, bytes);
            page.bytes = bytes;
            visit(page);
        }
        if (whole < count) break;  // the file ends sooner than it did when opened
        i = j;
    }
}

PageRef PageFile::page(PageNumber n) {
    if (auto it = cached_.find(n.value); it != cached_.end()) return it->second;
    if (n.value >= pageCount_) {
        throwCorruption("page " + std::to_string(n.value) + " lies beyond the end of the file (" +
                            std::to_string(pageCount_) + " pages)",
                        ErrorLocation{.page = n.value});
    }
    // A planned page: read with the planned ones close after it.
    if (!plan_.empty()) {
        auto at = std::lower_bound(plan_.begin() + static_cast<std::ptrdiff_t>(std::min(planNext_, plan_.size())),
                                   plan_.end(), n.value);
        if (at == plan_.end() || *at != n.value) at = std::lower_bound(plan_.begin(), plan_.end(), n.value);
        if (at != plan_.end() && *at == n.value) {
            const std::size_t i = static_cast<std::size_t>(at - plan_.begin());
            const std::size_t j = stretchEnd(plan_, i, kMaxRun, pageCount_);
            planNext_ = j;
            std::uint32_t count = plan_[j - 1] - n.value + 1;
            for (std::uint32_t k = 1; k < count; ++k) {
                if (cached_.count(n.value + k)) {
                    count = k;
                    break;
                }
            }
            return cacheRun(n, readRun(n.value, count));
        }
    }
    Stream* stream = nullptr;
    for (Stream& s : streams_)
        if (s.runLength > 0 && n.value >= s.end && n.value - s.end <= kForwardReach) stream = &s;
    if (stream) {
        stream->runLength = std::min(stream->runLength * 2, kMaxRun);
    } else {
        stream = &*std::min_element(streams_.begin(), streams_.end(),
                                    [](const Stream& a, const Stream& b) { return a.lastUse < b.lastUse; });
        stream->runLength = 1;
    }
    stream->lastUse = ++misses_;
    std::uint32_t count = static_cast<std::uint32_t>(std::min<std::uint64_t>(stream->runLength, pageCount_ - n.value));
    for (std::uint32_t i = 1; i < count; ++i) {
        if (cached_.count(n.value + i)) {
            count = i;
            break;
        }
    }
    std::shared_ptr<Run> run = readRun(n.value, count);
    stream->end = n.value + static_cast<std::uint32_t>(run->pages.size());
    return cacheRun(n, std::move(run));
}

PageRef PageFile::cacheRun(PageNumber n, std::shared_ptr<Run> run) {
    if (run->pages.empty()) {
        throwCorruption("short read of page " + std::to_string(n.value), ErrorLocation{.page = n.value});
    }
    for (const PageBuffer& p : run->pages) cached_.emplace(p.number.value, PageRef(run, &p));
    PageRef wanted = cached_.find(n.value)->second;
    runPages_ += run->pages.size();
    runs_.push_back(std::move(run));
    while (runPages_ > cachePages_ && runs_.size() > 1) evictOldest();
    return wanted;
}

}  // namespace jet
