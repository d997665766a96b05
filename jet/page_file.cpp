#include "jet/page_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "jet/jet_error.h"
#include "jet/rc4.h"

namespace jet {

PageFile::PageFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        const int err = errno;
        throw JetError(ErrorKind::Io, "Não foi possível abrir o arquivo " + path,
                       "open(" + path + "): " + std::strerror(err));
    }
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw JetError(ErrorKind::Io, "O caminho não é um arquivo comum: " + path, "fstat failed or not a regular file");
    }
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
    ring_.assign(kCacheSize, nullptr);
    ringNext_ = 0;
    cached_.clear();
    spare_.clear();
    recent_.clear();
    recentNext_ = 0;
}

std::shared_ptr<PageBuffer> PageFile::freeBuffer(bool cached) {
    while (!spare_.empty()) {
        std::shared_ptr<const PageBuffer> b = std::move(spare_.back());
        spare_.pop_back();
        // Only this list held it: no page reference handed out is still alive. The
        // file owns the buffer, so writing into it again is sound.
        if (b.use_count() == 1 && b->bytes.size() == pageSize_) return std::const_pointer_cast<PageBuffer>(b);
    }
    for (auto& b : recent_) {
        if (b.use_count() == 1 && b->bytes.size() == pageSize_) return b;
    }
    auto fresh = std::make_shared<PageBuffer>();
    fresh->bytes.resize(pageSize_);
    if (cached) return fresh;
    if (recent_.size() < kSpareCount) {
        recent_.push_back(fresh);
    } else {
        recent_[recentNext_] = fresh;
        recentNext_ = (recentNext_ + 1) % kSpareCount;
    }
    return fresh;
}

PageRef PageFile::load(PageNumber n, bool cached) {
    if (n.value >= pageCount_) {
        throwCorruption("page " + std::to_string(n.value) + " lies beyond the end of the file (" +
                            std::to_string(pageCount_) + " pages)",
                        ErrorLocation{.page = n.value});
    }
    std::shared_ptr<PageBuffer> buf = freeBuffer(cached);
    buf->number = n;
    if (readInto(std::uint64_t{n.value} * pageSize_, buf->bytes.data(), pageSize_) != pageSize_) {
        throwCorruption("short read of page " + std::to_string(n.value), ErrorLocation{.page = n.value});
    }
    // Encoded Jet3/Jet4 databases: every page after page 0 is RC4 with key (database key XOR page).
    if (databaseKey_ != 0 && n.value != 0) rc4Apply(databaseKey_ ^ n.value, buf->bytes);
    return buf;
}

PageRef PageFile::page(PageNumber n) {
    if (auto it = cached_.find(n.value); it != cached_.end()) return it->second;
    PageRef p = load(n, true);
    if (PageRef& slot = ring_[ringNext_]; slot) {
        cached_.erase(slot->number.value);
        if (slot.use_count() == 1 && spare_.size() < kSpareCount) spare_.push_back(std::move(slot));
    }
    ring_[ringNext_] = p;
    ringNext_ = (ringNext_ + 1) % kCacheSize;
    cached_.emplace(n.value, p);
    return p;
}

PageRef PageFile::pageUncached(PageNumber n) {
    if (auto it = cached_.find(n.value); it != cached_.end()) return it->second;
    return load(n, false);
}

}  // namespace jet
