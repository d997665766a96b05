#include "private_file_creation.h"

#include <sys/stat.h>

namespace maintenance {

PrivateFileCreation::PrivateFileCreation() : previous_(::umask(077)) { ::umask(previous_ | 077); }

PrivateFileCreation::~PrivateFileCreation() { ::umask(previous_); }

}  // namespace maintenance
