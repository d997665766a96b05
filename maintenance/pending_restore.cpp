#include "pending_restore.h"

#include "file_error.h"

namespace maintenance {

PendingRestore::PendingRestore(WorkingFiles& files, const ScratchSet& scratch) : files_(files), scratch_(scratch) {}

void PendingRestore::record(const std::string& databasePath) {
    files_.writeText(scratch_.pendingRestoreNote(),
                     databasePath + "\n" + "Enquanto " + databasePath + " não estiver no seu lugar, o arquivo " +
                         scratch_.backup() +
                         " guarda o banco de dados. Copie-o de volta ou para um lugar seguro; enquanto ele "
                         "estiver nesta pasta, nenhum outro processo será iniciado.\n");
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
