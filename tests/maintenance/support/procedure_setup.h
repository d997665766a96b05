#pragma once

#include <memory>
#include <string>
#include <vector>

#include "faulty_file_system.h"
#include "procedure.h"
#include "recording_sink.h"
#include "scripted_engine.h"
#include "temp_folder.h"

namespace testing_support {

// A real database in a folder of its own, an empty program folder beside it,
// and a procedure wired to a scripted engine and the faulty file system (which
// does nothing unusual until told to).
class ProcedureSetup {
public:
    explicit ProcedureSetup(const std::string& corpusDatabase = "jet4/adox_jet4.mdb",
                            const std::string& databaseName = "loja.mdb");

    RecordingSink run();  // one run with a sink that reads `database()`
    void run(RecordingSink& sink) { procedure_.run(sink); }

    const std::string& programFolder() const { return programFolder_; }
    const std::string& dataFolder() const { return dataFolder_; }
    const std::string& database() const { return database_; }
    const std::string& original() const { return original_; }
    std::string scratch(int number) const;
    std::string note() const { return programFolder_ + "/compac01-restauracao-pendente.txt"; }

    // Sorted names in the program folder, hidden ones included.
    std::vector<std::string> programFiles() const;
    std::vector<std::string> dataFiles() const;
    std::string contentsOf(const std::string& path) const { return readFile(path); }

    EngineScript& engine() { return script_; }
    FaultyFileSystem& fileSystem() { return *fileSystem_; }
    maintenance::Procedure& procedure() { return procedure_; }
    const TempFolder& root() const { return root_; }

private:
    TempFolder root_;
    std::string programFolder_;
    std::string dataFolder_;
    std::string database_;
    std::string original_;
    EngineScript script_;
    std::shared_ptr<FaultyFileSystem> fileSystem_;
    maintenance::Procedure procedure_;
};

}  // namespace testing_support
