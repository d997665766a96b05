#include "scripted_engine.h"

#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace {

class ScriptedEngine : public maintenance::DatabaseEngine {
public:
    ScriptedEngine(EngineScript& script, int instance) : script_(script), instance_(instance) {}

    maintenance::RepairLosses repair(const std::string& path) override {
        script_.calls.push_back("repair " + path + " #" + std::to_string(instance_));
        switch (script_.repair) {
        case EngineScript::Repair::AppendMark: {
            std::ofstream out(path, std::ios::binary | std::ios::app);
            out << kRepairMark;
            if (!out) throw maintenance::EngineError(3049, "Não foi possível gravar " + path);
            return script_.losses;
        }
        case EngineScript::Repair::ThrowEngineError:
            throw maintenance::EngineError(script_.errorNumber, script_.errorDescription);
        case EngineScript::Repair::ThrowOther:
            throw std::logic_error("engine broke");
        case EngineScript::Repair::ThrowNonStandard:
            throw 7;
        case EngineScript::Repair::EndProcess:
            ::_exit(0);
        }
        return {};
    }

    void compact(const std::string& source, const std::string& destination) override {
        script_.calls.push_back("compact " + source + " -> " + destination + " #" + std::to_string(instance_));
        if (script_.compact == EngineScript::Compact::WriteNothing) return;
        if (script_.compact == EngineScript::Compact::ThrowEngineError) {
            throw maintenance::EngineError(script_.errorNumber, script_.errorDescription);
        }
        std::ifstream in(source, std::ios::binary);
        if (!in) throw maintenance::EngineError(3024, "Não foi possível abrir " + source);
        std::ostringstream contents;
        contents << in.rdbuf();
        std::ofstream out(destination, std::ios::binary | std::ios::trunc);
        out << contents.str() << kCompactMark;
        if (!out) throw maintenance::EngineError(3049, "Não foi possível gravar " + destination);
        if (script_.compact == EngineScript::Compact::WriteThenThrow) {
            throw maintenance::EngineError(script_.errorNumber, script_.errorDescription);
        }
    }

private:
    EngineScript& script_;
    int instance_;
};

}  // namespace

maintenance::EngineFactory scriptedEngineFactory(EngineScript& script) {
    return [&script]() -> std::unique_ptr<maintenance::DatabaseEngine> {
        ++script.creations;
        if (script.creations <= script.failCreations) {
            throw maintenance::EngineError(429, "O componente não pode criar o objeto");
        }
        return std::make_unique<ScriptedEngine>(script, ++script.engineInstances);
    };
}

}  // namespace testing_support
