#pragma once

#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with everything
// in it (permissions restored first) when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);
void makeFolder(const std::string& path);
bool fileExists(const std::string& path);  // anything at the path, links not followed
std::vector<std::string> folderNames(const std::string& folder);  // sorted, hidden ones too
std::string corpusFile(const std::string& relative);  // bytes of a file of tests/data/corpus

}  // namespace testing_support
