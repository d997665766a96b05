#include "procedure.h"

#include <utility>

#include "error_register.h"
#include "interruption_guard.h"
#include "procedure_run.h"

namespace maintenance {

Procedure::Procedure(EngineFactory factory, ProgramFolderSource programFolder, std::shared_ptr<FileSystem> fileSystem)
    : factory_(std::move(factory)), programFolder_(std::move(programFolder)), files_(std::move(fileSystem)) {}

void Procedure::run(StatusSink& sink) noexcept {
    interruptedBy_ = 0;
    const InterruptionGuard guard;
    try {
        ProcedureRun run(sink, files_, programFolder_, [this]() -> DatabaseEngine& { return engine(); });
        run.execute();
        interruptedBy_ = run.interruptedBy();
    } catch (...) {
        // Every unit already catches its own failures; nothing is left to report.
    }
}

DatabaseEngine& Procedure::engine() {
    // Nothing is kept when creation fails, so the next use tries again.
    if (!engine_) {
        if (!factory_) throw EngineError(ErrorRegister::kUnexpected, "O mecanismo de banco de dados não foi fornecido");
        std::unique_ptr<DatabaseEngine> created = factory_();
        if (!created) throw EngineError(ErrorRegister::kUnexpected, "O mecanismo de banco de dados não pôde ser criado");
        engine_ = std::move(created);
    }
    return *engine_;
}

}  // namespace maintenance
