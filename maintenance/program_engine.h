#pragma once

#include "database_engine.h"

namespace maintenance {

// The engine this program repairs and compacts with.
EngineFactory programEngineFactory();

}  // namespace maintenance
