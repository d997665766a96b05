#include "jet/compact/output_file.h"

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "jet/format/jet_error.h"
#include "jet/format/rc4.h"

namespace jet {

namespace {

[[noreturn]] void throwWriteError(const std::string& path, const std::string& what, int err) {
    throw JetError(ErrorKind::Io, "Não foi possível gravar o arquivo " + path + ": " + std::strerror(err),
                   what + "(" + path + "): " + std::strerror(err));
}

}  // namespace

OutputFile::OutputFile(const std::string& path, std::size_t pageSize, std::uint32_t databaseKey)
    : path_(path), pageSize_(pageSize), databaseKey_(databaseKey) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        const int err = errno;
        removed_ = true;  // not ours: never remove what we did not create
        const std::string why = err == EEXIST ? "o arquivo já existe" : std::strerror(err);
        throw JetError(ErrorKind::Io, "Não foi possível criar o arquivo " + path + ": " + why,
                       "open(" + path + ", O_EXCL): " + std::strerror(err));
    }
}

OutputFile::~OutputFile() {
    joinWriter();
    waitForFlush();
    if (!committed_) discard();
    else if (fd_ >= 0) ::close(fd_);
}

void OutputFile::discard() {
    joinWriter();
    waitForFlush();
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!removed_) {
        ::unlink(path_.c_str());
        removed_ = true;
    }
}

void OutputFile::writePage(PageNumber number, std::span<const std::uint8_t> page) {
    if (page.size() != pageSize_)
        throw JetError(ErrorKind::InvalidArgument, "Erro interno ao gravar uma página",
                       "writePage: page of " + std::to_string(page.size()) + " bytes");
    if (fd_ < 0 || flusher_.joinable())
        throw JetError(ErrorKind::Io, "O arquivo " + path_ + " já foi fechado", "writePage after close");
    std::uint8_t* slot = nullptr;
    const std::size_t windowPages = held_.size();
    // A page behind the window (reserved early, filled late) is written on its own.
    if (number.value >= windowFirst_) {
        if (windowPages == 0 || std::uint64_t{number.value} >= std::uint64_t{windowFirst_} + windowPages) {
            writeWindow();
            if (window_.empty()) {
                window_.assign(std::max<std::size_t>(1, kWindowBytes / pageSize_) * pageSize_, 0);
                held_.assign(window_.size() / pageSize_, false);
            }
            windowFirst_ = number.value;
        }
        const std::size_t index = number.value - windowFirst_;
        held_[index] = true;
        slot = window_.data() + index * pageSize_;
    }
    std::vector<std::uint8_t> alone;
    if (!slot) {
        // The window being written may hold an older copy of this page: let it land first.
        waitForWriter();
        alone.resize(pageSize_);
        slot = alone.data();
    }
    std::copy(page.begin(), page.end(), slot);
    if (databaseKey_ != 0 && number.value != 0)
        rc4Apply(databaseKey_ ^ number.value, std::span<std::uint8_t>(slot, pageSize_));
    if (!alone.empty()) writeAt(std::uint64_t{number.value} * pageSize_, alone.data(), pageSize_);
}

int OutputFile::writeAll(std::uint64_t offset, const std::uint8_t* data, std::size_t size) const noexcept {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

void OutputFile::writeAt(std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
    if (const int err = writeAll(offset, data, size)) throwWriteError(path_, "pwrite", err);
}

// Hands the held pages of the window, run by run, to a background write and
// empties the window; the next window fills the buffer of the previous write.
void OutputFile::writeWindow() {
    waitForWriter();
    writingRuns_.clear();
    std::size_t i = 0;
    while (i < held_.size()) {
        if (!held_[i]) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < held_.size() && held_[end]) held_[end++] = false;
        writingRuns_.push_back(PendingRun{(std::uint64_t{windowFirst_} + i) * pageSize_, i * pageSize_, (end - i) * pageSize_});
        i = end;
    }
    if (writingRuns_.empty()) return;
    std::swap(window_, writing_);
    writer_ = std::thread([this] {
        for (const PendingRun& run : writingRuns_) {
            if ((writeError_ = writeAll(run.offset, writing_.data() + run.from, run.size)) != 0) return;
            // Start writing these pages to the disk now, while the compaction goes
            // on, so the final fsync has little left to wait for. Only a hint:
            // errors show up in fsync.
            ::sync_file_range(fd_, static_cast<off_t>(run.offset), static_cast<off_t>(run.size),
                              SYNC_FILE_RANGE_WRITE);
        }
    });
}

void OutputFile::joinWriter() noexcept {
    if (writer_.joinable()) writer_.join();
}

void OutputFile::waitForWriter() {
    joinWriter();
    if (const int err = writeError_) {
        writeError_ = 0;
        throwWriteError(path_, "pwrite", err);
    }
}

void OutputFile::finish(std::uint32_t pageCount) {
    if (fd_ < 0 || flusher_.joinable())
        throw JetError(ErrorKind::Io, "O arquivo " + path_ + " já foi fechado", "finish after close");
    writeWindow();
    waitForWriter();
    std::vector<std::uint8_t>().swap(window_);
    std::vector<std::uint8_t>().swap(writing_);
    std::vector<bool>().swap(held_);
    if (::ftruncate(fd_, static_cast<off_t>(std::uint64_t{pageCount} * pageSize_)) != 0)
        throwWriteError(path_, "ftruncate", errno);
    // The data reaches the disk while the caller reads the file back; commit() waits.
    flushError_ = 0;
    flusher_ = std::thread([this] {
        if (::fsync(fd_) != 0) flushError_ = errno;
    });
}

void OutputFile::waitForFlush() {
    if (flusher_.joinable()) flusher_.join();
}

void OutputFile::commit() {
    if (fd_ < 0 || !flusher_.joinable())
        throw JetError(ErrorKind::InvalidArgument, "Erro interno ao gravar o arquivo " + path_, "commit before finish");
    waitForFlush();
    if (flushError_ != 0) throwWriteError(path_, "fsync", flushError_);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throwWriteError(path_, "close", errno);
    committed_ = true;
}

}  // namespace jet
