#pragma once

#include <QCursor>
#include <QLabel>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "main_window.h"
#include "maintenance/database_engine.h"

namespace window_test {

// A database engine that follows a script on real files: the repair fails with
// a given error or leaves the file alone; the compaction writes the source's
// bytes behind a marker, or writes nothing. The script is read at each call, so
// a test can change it between runs. It notes what the window showed at each
// call.
class ScriptedEngine final : public maintenance::DatabaseEngine {
public:
    struct Script {
        std::optional<std::pair<std::int32_t, std::string>> repairError;
        bool compactWritesOutput = true;
        std::function<void()> duringRepair;  // runs inside repair()
    };

    struct Seen {
        std::string call;
        QString status;
        Qt::CursorShape pointer;
    };

    ScriptedEngine(const Script& script, const window::MainWindow& form, std::vector<Seen>& seen)
        : script_(script), form_(form), seen_(seen) {}

    static constexpr const char* kCompactedMarker = "compacted:";

    maintenance::RepairLosses repair(const std::string& path) override {
        note("repair " + path);
        if (script_.duringRepair)
            script_.duringRepair();
        if (script_.repairError)
            throw maintenance::EngineError(script_.repairError->first, script_.repairError->second);
        return {};
    }

    void compact(const std::string& source, const std::string& destination) override {
        note("compact " + source + " " + destination);
        if (!script_.compactWritesOutput)
            return;
        std::ifstream in(source, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream out(destination, std::ios::binary);
        out << kCompactedMarker << bytes;
    }

private:
    void note(const std::string& call) {
        seen_.push_back({call, form_.label1(0)->text(), form_.cursor().shape()});
    }

    const Script& script_;
    const window::MainWindow& form_;
    std::vector<Seen>& seen_;
};

}  // namespace window_test
