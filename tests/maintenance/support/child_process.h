#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace testing_support {

// Runs `body` in a forked child and returns its result (an exit status), or
// -1 when the child died otherwise. With `asNobody`, a child started as root
// first gives up its privileges, so permission checks apply to it.
int runInChild(const std::function<int()>& body, bool asNobody);
bool runningAsRoot();

// A child process that holds a POSIX record lock on a file until this object
// goes: classic (F_SETLK) or open-file-description (F_OFD_SETLK), on the whole
// file or from `start` on.
class LockHoldingChild {
public:
    enum class Kind { Classic, OpenFileDescription };
    LockHoldingChild(const std::string& path, Kind kind, off_t start = 0);
    ~LockHoldingChild();
    LockHoldingChild(const LockHoldingChild&) = delete;
    LockHoldingChild& operator=(const LockHoldingChild&) = delete;

    bool holding() const { return holding_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;  // write end; closing it lets the child go
    bool holding_ = false;
};

}  // namespace testing_support
