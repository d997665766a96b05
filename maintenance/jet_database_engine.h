#pragma once

#include "database_engine.h"

namespace maintenance {

// The engine on our own Jet/ACE file-format library: repair checks the database,
// mends stale statistics in place and writes a damaged one anew from what can
// be read (the list of what it could not keep in its MSysCompactError table);
// compact writes a compacted,
// verified copy. Engine failures become EngineError with a Jet error number and a
// Portuguese description.
class JetDatabaseEngine : public DatabaseEngine {
public:
    RepairLosses repair(const std::string& path) override;
    void compact(const std::string& source, const std::string& destination) override;
};

}  // namespace maintenance
