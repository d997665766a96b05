#include "program_engine.h"

#include <memory>

namespace maintenance {
namespace {

// Stands in until the Jet file-format engine is linked in: it reports, in the
// user's language, that it cannot work on the file, and touches nothing.
class UnavailableEngine : public DatabaseEngine {
public:
    static constexpr std::int32_t kNotAvailable = 3251;  // Jet: "operation not supported"

    void repair(const std::string& path) override {
        throw EngineError(kNotAvailable, "O mecanismo de banco de dados para este formato ainda não está "
                                         "disponível; o arquivo " + path + " não foi reparado");
    }
    void compact(const std::string& source, const std::string&) override {
        throw EngineError(kNotAvailable, "O mecanismo de banco de dados para este formato ainda não está "
                                         "disponível; o arquivo " + source + " não foi compactado");
    }
};

}  // namespace

EngineFactory programEngineFactory() {
    return [] { return std::unique_ptr<DatabaseEngine>(std::make_unique<UnavailableEngine>()); };
}

}  // namespace maintenance
