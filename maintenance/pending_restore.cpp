#include "pending_restore.h"

#include <cstdio>

#include "file_error.h"

namespace maintenance {
namespace {

constexpr const char* kAttributesLabel = "Permissões originais: ";

}  // namespace

PendingRestore::PendingRestore(WorkingFiles& files, const ScratchSet& scratch) : files_(files), scratch_(scratch) {}

void PendingRestore::record(const std::string& databasePath, const std::optional<FileAttributes>& attributes) {
    std::string text = databasePath + "\n" + "Enquanto " + databasePath + " não estiver no seu lugar, o arquivo " +
                       scratch_.backup() +
                       " guarda o banco de dados. Copie-o de volta ou para um lugar seguro; enquanto ele "
                       "estiver nesta pasta, nenhum outro processo será iniciado.\n";
    if (attributes) {
        char line[96];
        std::snprintf(line, sizeof line, "%s%04o %u %u\n", kAttributesLabel, attributes->mode, attributes->owner,
                      attributes->group);
        text += line;
    }
    files_.writeText(scratch_.pendingRestoreNote(), text);
}

std::optional<std::string> PendingRestore::waiting() noexcept {
    try {
        if (!files_.isPresent(scratch_.pendingRestoreNote()) || !files_.isPresent(scratch_.backup())) {
            return std::nullopt;
        }
        const std::string text = files_.readText(scratch_.pendingRestoreNote());
        const std::string databasePath = text.substr(0, text.find('\n'));
        if (databasePath.empty() || files_.isPresent(databasePath)) return std::nullopt;
        return databasePath;
    } catch (...) {
        return std::nullopt;
    }
}

std::optional<FileAttributes> PendingRestore::recordedAttributes() {
    const std::string text = files_.readText(scratch_.pendingRestoreNote());
    const std::size_t at = text.find(std::string("\n") + kAttributesLabel);
    if (at == std::string::npos) return std::nullopt;
    unsigned mode = 0;
    unsigned owner = 0;
    unsigned group = 0;
    const std::string values = text.substr(at + 1 + std::string(kAttributesLabel).size());
    if (std::sscanf(values.c_str(), "%o %u %u", &mode, &owner, &group) != 3 || mode > 07777) return std::nullopt;
    FileAttributes attributes;
    attributes.mode = mode;
    attributes.owner = owner;
    attributes.group = group;
    return attributes;
}

std::optional<std::string> PendingRestore::outstanding() {
    if (!files_.isPresent(scratch_.pendingRestoreNote())) return std::nullopt;
    const std::string text = files_.readText(scratch_.pendingRestoreNote());
    const std::string databasePath = text.substr(0, text.find('\n'));
    const bool settled = files_.isPresent(databasePath) || !files_.isPresent(scratch_.backup());
    if (!settled) return databasePath;
    try {
        files_.remove(scratch_.pendingRestoreNote());
    } catch (const FileError&) {
        // A note that outlives its cause is checked again and settled next time.
    }
    return std::nullopt;
}

}  // namespace maintenance
