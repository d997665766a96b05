#include "file_error.h"

#include "errno_text.h"

namespace maintenance {

FileError FileError::fromErrno(int errnoValue, const std::string& action) {
    return FileError(errnoValue, action + ": " + errnoText(errnoValue));
}

}  // namespace maintenance
