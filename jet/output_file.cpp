#include "jet/output_file.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "jet/jet_error.h"
#include "jet/rc4.h"

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
    if (!committed_) discard();
    else if (fd_ >= 0) ::close(fd_);
}

void OutputFile::discard() {
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
    if (fd_ < 0) throw JetError(ErrorKind::Io, "O arquivo " + path_ + " já foi fechado", "writePage after close");
    std::vector<std::uint8_t> encoded;
    const std::uint8_t* data = page.data();
    if (databaseKey_ != 0 && number.value != 0) {
        encoded.assign(page.begin(), page.end());
        rc4Apply(databaseKey_ ^ number.value, encoded);
        data = encoded.data();
    }
    const off_t offset = static_cast<off_t>(std::uint64_t{number.value} * pageSize_);
    std::size_t done = 0;
    while (done < pageSize_) {
        const ssize_t n = ::pwrite(fd_, data + done, pageSize_ - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            throwWriteError(path_, "pwrite", errno);
        }
        done += static_cast<std::size_t>(n);
    }
}

void OutputFile::finish(std::uint32_t pageCount) {
    if (fd_ < 0) throw JetError(ErrorKind::Io, "O arquivo " + path_ + " já foi fechado", "finish after close");
    if (::ftruncate(fd_, static_cast<off_t>(std::uint64_t{pageCount} * pageSize_)) != 0)
        throwWriteError(path_, "ftruncate", errno);
    if (::fsync(fd_) != 0) throwWriteError(path_, "fsync", errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throwWriteError(path_, "close", errno);
}

}  // namespace jet
