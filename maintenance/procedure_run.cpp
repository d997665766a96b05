#include "procedure_run.h"

#include <utility>
#include <vector>

#include "interruption_guard.h"
#include "path_parts.h"
#include "pending_restore.h"
#include "private_file_creation.h"
#include "procedure_texts.h"

namespace maintenance {
namespace {

// The engine works on the set-aside scratch file, but the user knows the
// database by its own path: an engine error names that path instead.
template <typename Call>
void namingDatabase(const std::string& scratchPath, const std::string& databasePath, Call&& call) {
    try {
        call();
    } catch (const EngineError& e) {
        std::string description = e.description();
        for (std::size_t at = description.find(scratchPath); at != std::string::npos && !scratchPath.empty();
             at = description.find(scratchPath, at + databasePath.size())) {
            description.replace(at, scratchPath.size(), databasePath);
        }
        throw EngineError(e.number(), description);
    }
}

}  // namespace

ProcedureRun::ProcedureRun(StatusSink& sink, WorkingFiles& files, const std::function<std::string()>& programFolder,
                           EngineAccess engine)
    : sink_(sink), files_(files), programFolder_(programFolder), engine_(std::move(engine)) {}

template <typename Action>
bool ProcedureRun::unit(Action&& action) noexcept {
    try {
        action();
        return true;
    } catch (...) {
        register_.recordCurrentException();
        return false;
    }
}

template <typename Condition>
bool ProcedureRun::check(Condition&& condition) noexcept {
    bool holds = true;  // a condition that cannot be evaluated takes the guarded branch
    unit([&] { holds = condition(); });
    return holds;
}

void ProcedureRun::progress(const std::function<std::string()>& text) {
    unit([&] { sink_.setStatus(text()); });
    unit([&] { sink_.repaint(); });
}

void ProcedureRun::message(const std::function<std::string()>& text) {
    unit([&] { sink_.showMessage(text()); });
}

void ProcedureRun::execute() {
    // Start.
    unit([&] { sink_.setBusyPointer(); });
    unit([&] { source_ = sink_.readPathBox(); });
    unit([&] {
        folder_ = programFolder_();
        scratch_.emplace(folder_);
    });
    putBackPendingDatabase();
    if (check([&] { return !files_.isPresent(source_); })) {
        message([&] { return texts::sourceMissing(source_); });
        return fail();
    }
    // Without a folder there are no scratch paths to work with.
    if (check([&] { return !scratch_ || folder_.empty(); })) {
        message([&] { return texts::programFolderUnknown(); });
        return fail();
    }
    // Clearing would delete the database itself if it were one of the scratch
    // files, before any backup of it exists.
    if (check([&] { return sourceIsScratchFile(); })) {
        message([&] {
            return refusedScratch_.empty() ? texts::sourceMayBeScratch(source_)
                                           : texts::sourceIsScratch(source_, refusedScratch_);
        });
        return fail();
    }
    if (!clearScratchFiles()) return fail();
    // Until the set-aside, an interrupted run simply stops: the database has not moved.
    if (interrupted()) return fail();
    if (!roomForTheRun()) return fail();

    // Backup.
    const ScratchSet& scratch = *scratch_;
    progress([&] { return texts::backingUp(scratch.backup()); });
    unit([&] { original_ = files_.attributes(source_); });
    unit([&] { files_.copy(source_, scratch.backup()); });
    if (check([&] { return !files_.isPresent(scratch.backup()); })) {
        message([&] { return texts::backupNotCreated(); });
        return fail();
    }
    if (interrupted()) return fail();

    // Set-aside. From here until the database is back at its path, the backup
    // may be its only whole copy: the note keeps later runs from clearing it,
    // even after a crash, so without the note the database does not move.
    progress([&] { return texts::settingAside(scratch.setAside()); });
    noteWritten_ = true;
    if (check([&] {
            PendingRestore(files_, scratch).record(source_, original_);
            return false;
        })) {
        message([&] { return texts::noteNotWritten(scratch.pendingRestoreNote()); });
        return fail();
    }
    unit([&] { files_.rename(source_, scratch.setAside()); });
    // In the program folder the database's own folder no longer shields it.
    unit([&] { files_.makePrivate(scratch.setAside()); });
    if (check([&] { return !files_.isPresent(scratch.setAside()); })) {
        message([&] { return texts::notSetAside(); });
        // A move that did not happen left the database at its path; if it is
        // not there after all, the backup goes back.
        if (check([&] { return !files_.isPresent(source_); })) restoreBackup();
        return fail();
    }
    // From here until the reinstatement an interruption puts the backup back.
    if (interrupted()) {
        restoreBackup();
        return fail();
    }

    // Repair.
    progress([&] { return texts::repairing(scratch.setAside()); });
    register_.clearNumber();
    unit([&] {
        namingDatabase(scratch.setAside(), source_, [&] { repairLosses_ = engine_().repair(scratch.setAside()); });
    });
    if (check([&] { return register_.number() != 0; })) {
        const std::int32_t number = register_.number();
        const std::string description = register_.description();
        message([&] { return texts::repairFailed(number, description); });
        restoreBackup();
        return fail();
    }
    if (interrupted()) {
        restoreBackup();
        return fail();
    }

    // Compaction.
    progress([&] { return texts::compacting(scratch.setAside()); });
    unit([&] {
        const PrivateFileCreation privately;
        namingDatabase(scratch.setAside(), source_,
                       [&] { engine_().compact(scratch.setAside(), scratch.compacted()); });
    });
    if (check([&] { return !files_.isPresent(scratch.compacted()); })) {
        message([&] { return texts::notCompacted(); });
        restoreBackup();
        return fail();
    }
    // The last look: once the compacted file is on its way back, the run ends as it would.
    if (interrupted()) {
        restoreBackup();
        return fail();
    }

    // Reinstatement.
    progress([&] { return texts::reinstating(); });
    // Given its attributes beside the database, where the database's folder shields it.
    unit([&] {
        if (original_) {
            files_.rename(scratch.compacted(), source_, *original_);
        } else {
            files_.rename(scratch.compacted(), source_);
        }
    });
    if (check([&] { return !files_.isPresent(source_); })) {
        message([&] { return texts::notReinstated(scratch.compacted()); });
        restoreBackup();
        return fail();
    }
    succeed();
}

bool ProcedureRun::roomForTheRun() {
    struct Need {
        std::string folder;
        std::uint64_t bytes = 0;
        std::uint64_t available = 0;
    };
    std::optional<Need> lacking;
    // Free space that cannot be told is no reason to stop: every step is still
    // checked, and a full disk then fails the step that meets it.
    unit([&] {
        const std::uint64_t size = files_.sizeOf(source_);
        const std::string databaseFolder = parentFolder(source_);
        const bool crossing = !files_.sameFileSystem(folder_, databaseFolder);
        // The backup and the compacted file (never larger than the database); the
        // set-aside database too when its move is a copy, and then the compacted
        // file's copy back beside the database.
        std::vector<Need> needs{{folder_, size * (crossing ? 3 : 2)}};
        if (crossing) needs.push_back({databaseFolder, size});
        for (Need& need : needs) {
            need.available = files_.freeSpace(need.folder);
            if (need.available < need.bytes) {
                lacking = need;
                return;
            }
        }
    });
    if (!lacking) return true;
    message([&] { return texts::notEnoughSpace(lacking->folder, lacking->bytes, lacking->available); });
    return false;
}

bool ProcedureRun::interrupted() {
    const int signal = InterruptionGuard::caught();
    if (signal == 0) return false;
    interruptedBy_ = signal;
    message([&] { return texts::interrupted(signalName(signal)); });
    return true;
}

bool ProcedureRun::sourceIsScratchFile() {
    // Every spelling (relative, through symbolic links, hard links, a wildcard
    // that matches one) comes down to the same device and inode. The note kept
    // beside the backup is the program's too.
    std::vector<std::string> own{scratch_->pendingRestoreNote()};
    for (int number = 1; number <= ScratchSet::kCount; ++number) own.push_back(scratch_->path(number));
    for (const std::string& file : files_.filesMatching(source_)) {
        for (const std::string& path : own) {
            if (files_.sameFile(file, path)) {
                refusedScratch_ = path;
                return true;
            }
        }
    }
    return false;
}

bool ProcedureRun::clearScratchFiles() {
    const ScratchSet& scratch = *scratch_;
    // A backup that may be the only copy of a database stays until the user
    // has dealt with it.
    std::optional<std::string> pending;
    if (check([&] {
            pending = PendingRestore(files_, scratch).outstanding();
            return pending.has_value();
        })) {
        message([&] {
            return pending ? texts::backupHoldsDatabase(scratch.backup(), *pending)
                           : texts::backupMayHoldDatabase(scratch.backup(), scratch.pendingRestoreNote());
        });
        return false;
    }
    // Copies cut short by a crash are hidden; they only take up room.
    unit([&] {
        for (int number = 1; number <= ScratchSet::kCount; ++number) {
            files_.removePartialCopies(folder_, lastElement(scratch.path(number)));
        }
        files_.removePartialCopies(folder_, lastElement(scratch.pendingRestoreNote()));
    });
    for (int number = 1; number <= ScratchSet::kCount; ++number) {
        const std::string& path = scratch.path(number);
        if (check([&] { return files_.isPresent(path); })) {
            unit([&] { files_.remove(path); });
        }
        if (check([&] { return files_.isPresent(path); })) {
            message([&] { return texts::scratchNotRemovable(number); });
            return false;
        }
    }
    return true;
}

void ProcedureRun::restoreBackup() {
    const ScratchSet& scratch = *scratch_;
    progress([&] { return texts::restoringBackup(); });
    const auto putBack = [&] {
        unit([&] {
            if (original_) {
                files_.copy(scratch.backup(), source_, *original_);
            } else {
                files_.copy(scratch.backup(), source_);
            }
        });
        // The restore is checked like every other step.
        return !check([&] { return !files_.isPresent(source_) || !files_.sameContents(scratch.backup(), source_); });
    };
    if (putBack()) return;
    // The room the run took itself, the compacted file, is not needed any more;
    // without it a restore that met a full disk may fit.
    bool madeRoom = false;
    if (check([&] { return files_.isPresent(scratch.compacted()); })) {
        madeRoom = unit([&] { files_.remove(scratch.compacted()); });
    }
    if (madeRoom && putBack()) return;
    // A database that did not come back is named with the backup that still holds it.
    message([&] { return texts::restoreFailed(source_, scratch.backup()); });
    unit([&] { PendingRestore(files_, scratch).record(source_, original_); });
}

void ProcedureRun::putBackPendingDatabase() {
    // A run that was killed (SIGKILL, a power cut) while its database was away
    // left the note: the backup goes back before anything looks at the paths,
    // so that the database is where the user expects it, whichever one this run
    // is for. When it cannot go back, the clearing phase says what to do.
    if (!scratch_ || folder_.empty()) return;
    const ScratchSet& scratch = *scratch_;
    std::optional<std::string> pending;
    std::optional<FileAttributes> attributes;
    if (!unit([&] {
            pending = PendingRestore(files_, scratch).waiting();
            // Whatever the user has put at the path since stays there.
            if (pending && !files_.isVacant(*pending)) pending.reset();
            if (pending) attributes = PendingRestore(files_, scratch).recordedAttributes();
        }) ||
        !pending) {
        return;
    }
    const std::string database = *pending;
    unit([&] {
        if (attributes) {
            files_.copy(scratch.backup(), database, *attributes);
        } else {
            files_.copy(scratch.backup(), database);
        }
    });
    if (check([&] { return !files_.isPresent(database) || !files_.sameContents(scratch.backup(), database); })) return;
    message([&] { return texts::backupPutBack(scratch.backup(), database); });
    unit([&] { (void)PendingRestore(files_, scratch).outstanding(); });  // settled now
    // What the killed run was moving in beside the database under a hidden name.
    unit([&] { files_.removePartialCopies(parentFolder(database), lastElement(database)); });
}

void ProcedureRun::settlePendingRestore() {
    // Only a note this run wrote is settled here; the clearing phase looks at
    // any older one.
    if (scratch_ && noteWritten_) unit([&] { (void)PendingRestore(files_, *scratch_).outstanding(); });
}

void ProcedureRun::succeed() {
    settlePendingRestore();
    // Data the repair could not keep is never left unsaid.
    if (repairLosses_.any())
        message([&] { return texts::repairLostData(repairLosses_, scratch_->backup()); });
    message([&] { return texts::finished(); });
    unit([&] { sink_.setNormalPointer(); });
    unit([&] { sink_.endProgram(); });
}

void ProcedureRun::fail() {
    settlePendingRestore();
    unit([&] { sink_.setStatus(std::string()); });
    message([&] { return texts::failed(); });
    unit([&] { sink_.setNormalPointer(); });
    // A signal asked the program to end (a session closing, a polite kill): once
    // the database is back, it ends, the window program too.
    if (interruptedBy_ != 0) unit([&] { sink_.endProgram(); });
}

}  // namespace maintenance
