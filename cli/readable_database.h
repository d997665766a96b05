#pragma once

#include <ostream>
#include <stdexcept>
#include <string>

namespace cli {

// Looks at `path` before the engine opens it, without opening it: when it is
// missing, is not a regular file (a folder, a pipe, a device, a socket, which
// could make a read wait forever) or cannot be read, says so on `err`, naming
// the file and the cause, and returns false.
bool readableDatabase(const std::string& path, std::ostream& err);

// "compactar: <message>", the path put in front when the message does not name it.
void reportFailure(const std::string& path, const std::exception& e, std::ostream& err);

// The exit status for an engine error raised while opening or reading `path`:
// kExitUnreadable when the file cannot be read as a database at all.
int exitStatusOf(const std::exception& e);

}  // namespace cli
