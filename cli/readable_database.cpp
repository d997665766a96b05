#include "readable_database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "errno_text.h"
#include "exit_status.h"
#include "jet/format/jet_error.h"
#include "jet/format/page_file.h"

namespace cli {

bool readableDatabase(const std::string& path, std::ostream& err) {
    struct stat st {};
    if (path.find('\0') != std::string::npos || ::stat(path.c_str(), &st) != 0) {
        const int error = path.find('\0') != std::string::npos ? EINVAL : errno;
        if (error == ENOENT) {
            err << "compactar: o arquivo " << path << " não existe\n";
        } else {
            err << "compactar: não foi possível procurar o arquivo " << path << ": "
                << maintenance::errnoText(error) << "\n";
        }
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        err << "compactar: " << path << " não é um arquivo comum (é " << jet::nonRegularFileKind(st.st_mode)
            << "); só arquivos comuns são lidos como banco de dados\n";
        return false;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        err << "compactar: não foi possível ler o arquivo " << path << ": " << maintenance::errnoText(errno) << "\n";
        return false;
    }
    return true;
}

void reportFailure(const std::string& path, const std::exception& e, std::ostream& err) {
    const std::string message = e.what();
    err << "compactar: ";
    if (message.find(path) == std::string::npos) err << path << ": ";
    err << message << "\n";
}

int exitStatusOf(const std::exception& e) {
    const auto* jetError = dynamic_cast<const jet::JetError*>(&e);
    if (jetError == nullptr) return kExitFailure;
    switch (jetError->kind()) {
    case jet::ErrorKind::Io:
    case jet::ErrorKind::NotDatabase:
    case jet::ErrorKind::Encrypted:
    case jet::ErrorKind::Unsupported:
        return kExitUnreadable;
    default:
        return kExitFailure;
    }
}

}  // namespace cli
