#pragma once

#include <cstdint>
#include <string>

#include "database_engine.h"

// Every text a run shows, status and message alike, built by plain
// concatenation with nothing added between the pieces.
namespace maintenance::texts {

std::string sourceMissing(const std::string& source);
std::string scratchNotRemovable(int number);
std::string backingUp(const std::string& backup);
std::string backupNotCreated();
std::string settingAside(const std::string& setAside);
std::string notSetAside();
std::string repairing(const std::string& setAside);
std::string repairFailed(std::int32_t number, const std::string& description);
std::string restoringBackup();
std::string compacting(const std::string& setAside);
std::string notCompacted();
std::string reinstating();
std::string notReinstated(const std::string& compacted);
std::string finished();
// What the repair dropped or changed, where the list is, and where the database
// as it was before the repair is.
std::string repairLostData(const RepairLosses& losses, const std::string& backup);
std::string failed();

// Guards of this program beyond the fixed sequence.
std::string programFolderUnknown();
std::string sourceIsScratch(const std::string& source, const std::string& scratch);
std::string sourceMayBeScratch(const std::string& source);
std::string backupHoldsDatabase(const std::string& backup, const std::string& source);
std::string backupMayHoldDatabase(const std::string& backup, const std::string& note);
std::string noteNotWritten(const std::string& note);
std::string restoreFailed(const std::string& source, const std::string& backup);
std::string interrupted(const std::string& signalName);
std::string backupPutBack(const std::string& backup, const std::string& source);
std::string notEnoughSpace(const std::string& folder, std::uint64_t needed, std::uint64_t available);

}  // namespace maintenance::texts
