#pragma once

#include <sys/types.h>

namespace maintenance {

// While it lives, files this process creates get no group or other permission
// bits (the process's file-creation mask), whatever mode their creator asks
// for: for files written by code that does not choose their mode.
class PrivateFileCreation {
public:
    PrivateFileCreation();
    ~PrivateFileCreation();
    PrivateFileCreation(const PrivateFileCreation&) = delete;
    PrivateFileCreation& operator=(const PrivateFileCreation&) = delete;

private:
    mode_t previous_;
};

}  // namespace maintenance
