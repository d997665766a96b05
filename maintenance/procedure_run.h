#pragma once

#include <functional>
#include <optional>
#include <string>

#include "database_engine.h"
#include "error_register.h"
#include "scratch_set.h"
#include "status_sink.h"
#include "working_files.h"

namespace maintenance {

// One run of the repair-and-compact sequence, in resumed-error mode: every
// unit (one sink call, one file operation, one engine call, one check's
// condition) that fails records its error and the run goes on with the next
// unit; a check whose condition cannot be evaluated takes its guarded branch.
class ProcedureRun {
public:
    using EngineAccess = std::function<DatabaseEngine&()>;

    ProcedureRun(StatusSink& sink, WorkingFiles& files, const std::function<std::string()>& programFolder,
                 EngineAccess engine);

    void execute();

    // The signal that stopped this run short, or 0.
    int interruptedBy() const { return interruptedBy_; }

private:
    template <typename Action>
    bool unit(Action&& action) noexcept;
    template <typename Condition>
    bool check(Condition&& condition) noexcept;

    void progress(const std::function<std::string()>& text);
    void message(const std::function<std::string()>& text);
    bool clearScratchFiles();
    bool sourceIsScratchFile();
    void restoreBackup();
    void putBackPendingDatabase();
    // Whether the file systems have room for every file the run will make; says
    // which folder lacks it when not.
    bool roomForTheRun();
    // Whether a signal asks the run to stop; says so when it does.
    bool interrupted();
    void settlePendingRestore();
    void succeed();
    void fail();

    StatusSink& sink_;
    WorkingFiles& files_;
    const std::function<std::string()>& programFolder_;
    EngineAccess engine_;
    ErrorRegister register_;
    std::string source_;
    std::string folder_;
    std::optional<ScratchSet> scratch_;
    std::string refusedScratch_;
    // The database's own permissions, owner, group and extended attributes, for
    // whatever file is put at its path.
    std::optional<FileAttributes> original_;
    bool noteWritten_ = false;
    RepairLosses repairLosses_;
    int interruptedBy_ = 0;
};

}  // namespace maintenance
