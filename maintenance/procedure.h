#pragma once

#include <functional>
#include <memory>
#include <string>

#include "database_engine.h"
#include "file_system.h"
#include "program_folder.h"
#include "status_sink.h"
#include "system_file_system.h"
#include "working_files.h"

namespace maintenance {

// Where the scratch files go; read once at the start of every run.
using ProgramFolderSource = std::function<std::string()>;

// The guarded repair-and-compact sequence behind "Compactar". One instance
// lives as long as the program: it holds the database engine once created.
class Procedure {
public:
    explicit Procedure(EngineFactory factory, ProgramFolderSource programFolder = locateProgramFolder,
                       std::shared_ptr<FileSystem> fileSystem = systemFileSystem());

    // Runs the whole sequence against `sink`. Never throws: every failure is
    // recorded and the run goes on with its next step.
    void run(StatusSink& sink) noexcept;

    bool hasEngine() const { return engine_ != nullptr; }

    // The signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT) that stopped the last run
    // short, or 0. A run whose database was away from its path when the signal
    // came first put the backup back.
    int interruptedBy() const { return interruptedBy_; }

private:
    DatabaseEngine& engine();

    EngineFactory factory_;
    ProgramFolderSource programFolder_;
    WorkingFiles files_;
    std::unique_ptr<DatabaseEngine> engine_;
    int interruptedBy_ = 0;
};

}  // namespace maintenance
