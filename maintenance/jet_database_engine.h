#pragma once

#include "database_engine.h"

namespace maintenance {

// The engine on our own Jet/ACE file-format library: repair checks the database
// and mends in place only what is safe and certain; compact writes a compacted,
// verified copy. Engine failures become EngineError with a Jet error number and a
// Portuguese description.
class JetDatabaseEngine : public DatabaseEngine {
public:
    void repair(const std::string& path) override;
    void compact(const std::string& source, const std::string& destination) override;
};

}  // namespace maintenance
