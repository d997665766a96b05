#include "jet_database_engine.h"

#include <filesystem>

#include "jet/compact/compactor.h"
#include "jet/format/error_number.h"
#include "jet/format/jet_error.h"
#include "jet/repair/repair.h"

namespace maintenance {

namespace {

// Jet's own numbers for the same situations, so users can look them up.
namespace number = jet::error_number;

EngineError fromJetError(const jet::JetError& e, const std::string& source) {
    switch (e.kind()) {
        case jet::ErrorKind::Io:
            if (!std::filesystem::exists(source))
                return EngineError(number::FileNotFound, "Não foi possível localizar o arquivo '" + source + "'.");
            return EngineError(number::DiskIo, std::string("Erro de disco ao compactar o banco de dados: ") + e.what());
        case jet::ErrorKind::NotDatabase:
            return EngineError(number::UnrecognisedFormat,
                               "Formato de banco de dados não reconhecido '" + source + "'. " + e.what());
        case jet::ErrorKind::Encrypted:
            return EngineError(number::EncryptedOrPassword, "O banco de dados '" + source +
                                              "' está protegido por senha e criptografado; não pode ser compactado.");
        case jet::ErrorKind::Unsupported:
            return EngineError(number::NotSupported, "Este banco de dados não pode ser compactado: " + std::string(e.what()));
        case jet::ErrorKind::Corruption:
            return EngineError(number::DatabaseDamaged, "O banco de dados '" + source +
                                                     "' está danificado e não foi compactado: " + e.what());
        default:
            return EngineError(number::CannotOpenFile, "Não foi possível compactar o banco de dados '" + source + "': " + e.what());
    }
}

}  // namespace

RepairLosses JetDatabaseEngine::repair(const std::string& path) {
    try {
        const jet::RepairReport report = jet::repairDatabase(path);
        RepairLosses losses;
        losses.rows = report.rowsDropped();
        losses.values = report.valuesChanged();
        for (const jet::RepairItem& item : report.items)
            if (item.kind == jet::RepairItem::Kind::PageLost) ++losses.pages;
        losses.tables = report.tablesAffected();
        losses.items = report.items.size();
        return losses;
    } catch (const jet::RepairError& e) {
        throw EngineError(e.number(), e.what());
    } catch (const jet::JetError& e) {
        throw fromJetError(e, path);
    }
}

void JetDatabaseEngine::compact(const std::string& source, const std::string& destination) {
    try {
        jet::compactDatabase(source, destination);
    } catch (const jet::JetError& e) {
        throw fromJetError(e, source);
    } catch (const std::bad_alloc&) {
        throw EngineError(number::NotSupported, "Memória insuficiente para compactar o banco de dados '" + source + "'.");
    }
}

}  // namespace maintenance
