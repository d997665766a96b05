#include "child_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

int runInChild(const std::function<int()>& body, bool asNobody) {
    const pid_t pid = ::fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        if (asNobody && ::geteuid() == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(125);
        }
        int result = 126;
        try {
            result = body();
        } catch (...) {
            result = 127;
        }
        ::_exit(result);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool runningAsRoot() { return ::geteuid() == 0; }

LockHoldingChild::LockHoldingChild(const std::string& path, Kind kind, off_t start) {
    int ready[2];
    int release[2];
    if (::pipe(ready) != 0) return;
    if (::pipe(release) != 0) {
        ::close(ready[0]);
        ::close(ready[1]);
        return;
    }
    pid_ = ::fork();
    if (pid_ == 0) {
        ::close(ready[0]);
        ::close(release[1]);
        char answer = 'n';
        const int fd = ::open(path.c_str(), O_RDWR);
        if (fd >= 0) {
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_start = start;
            lock.l_len = 0;
            const int command = kind == Kind::Classic ? F_SETLK : F_OFD_SETLK;
            if (::fcntl(fd, command, &lock) == 0) answer = 'y';
        }
        (void)::write(ready[1], &answer, 1);
        char ignored;
        while (::read(release[0], &ignored, 1) > 0) {
        }
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char answer = 'n';
    if (pid_ > 0 && ::read(ready[0], &answer, 1) == 1) holding_ = answer == 'y';
    ::close(ready[0]);
}

LockHoldingChild::~LockHoldingChild() {
    if (release_ >= 0) ::close(release_);
    if (pid_ > 0) {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0) {
        }
    }
}

}  // namespace testing_support
