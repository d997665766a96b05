#include "procedure_setup.h"


namespace testing_support {

ProcedureSetup::ProcedureSetup(const std::string& corpusDatabase, const std::string& databaseName)
    : programFolder_(root_ / "programa"),
      dataFolder_(root_ / "dados"),
      database_(dataFolder_ + "/" + databaseName),
      original_(corpusFile(corpusDatabase)),
      fileSystem_(std::make_shared<FaultyFileSystem>()),
      procedure_(scriptedEngineFactory(script_), [folder = programFolder_] { return folder; }, fileSystem_) {
    makeFolder(programFolder_);
    makeFolder(dataFolder_);
    writeFile(database_, original_);
}

RecordingSink ProcedureSetup::run() {
    RecordingSink sink(database_);
    procedure_.run(sink);
    return sink;
}

std::string ProcedureSetup::scratch(int number) const {
    return programFolder_ + "/compac0" + std::to_string(number) + ".mdb";
}

std::vector<std::string> ProcedureSetup::programFiles() const { return folderNames(programFolder_); }
std::vector<std::string> ProcedureSetup::dataFiles() const { return folderNames(dataFolder_); }

}  // namespace testing_support
