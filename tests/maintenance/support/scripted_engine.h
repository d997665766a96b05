#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "database_engine.h"

namespace testing_support {

// What the test engine does, shared by every engine its factory makes.
struct EngineScript {
    enum class Repair { AppendMark, ThrowEngineError, ThrowOther, ThrowNonStandard, EndProcess };
    enum class Compact { WriteCompacted, WriteNothing, ThrowEngineError, WriteThenThrow };

    Repair repair = Repair::AppendMark;
    Compact compact = Compact::WriteCompacted;
    std::int32_t errorNumber = -1206;
    std::string errorDescription = "Arquivo danificado na página 7";
    int failCreations = 0;  // the first n creations throw
    maintenance::RepairLosses losses;  // what AppendMark says the repair could not keep

    int creations = 0;
    int engineInstances = 0;
    std::vector<std::string> calls;  // "repair PATH", "compact FROM -> TO", with the engine instance number
};

inline const char* kRepairMark = "|reparado";
inline const char* kCompactMark = "|compactado";

// Repair appends kRepairMark to the file in place (EndProcess ends the whole
// process there, as a crash would); compaction writes the
// source's bytes followed by kCompactMark to the destination.
maintenance::EngineFactory scriptedEngineFactory(EngineScript& script);

}  // namespace testing_support
