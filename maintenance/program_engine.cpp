#include "program_engine.h"

#include <memory>

#include "jet_database_engine.h"

namespace maintenance {

EngineFactory programEngineFactory() {
    return [] { return std::unique_ptr<DatabaseEngine>(std::make_unique<JetDatabaseEngine>()); };
}

}  // namespace maintenance
