#pragma once

// The real Access files of the test corpus and what MANIFEST.md says about them.
#include <cctype>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace jet_test {

inline std::string corpusDir() { return COMPACTADOR_CORPUS_DIR; }
inline std::string corpusFile(const std::string& relative) { return corpusDir() + "/" + relative; }

// A corpus path as a test name: "jet3/nwind.mdb" gives "jet3_nwind_mdb".
inline std::string testNameOf(std::string file) {
    for (char& c : file)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return file;
}

struct ManifestEntry {
    std::string file;  // relative to the corpus folder, e.g. "jet3/nwind.mdb"
    int userTables = 0;
    int systemTables = 0;
    std::uint64_t userRows = 0;
    std::string features;
};

// Rows of the big table of MANIFEST.md: | `dir/file` | version | bytes | pages | user | sys | rows | features | origin |
inline std::vector<ManifestEntry> readManifest() {
    std::ifstream in(corpusDir() + "/MANIFEST.md");
    std::vector<ManifestEntry> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("| `", 0) != 0) continue;
        std::vector<std::string> cells;
        std::stringstream ss(line.substr(1));
        std::string cell;
        while (std::getline(ss, cell, '|')) {
            const auto b = cell.find_first_not_of(' ');
            const auto e = cell.find_last_not_of(' ');
            cells.push_back(b == std::string::npos ? std::string() : cell.substr(b, e - b + 1));
        }
        if (cells.size() < 8) continue;
        ManifestEntry m;
        m.file = cells[0].substr(1, cells[0].size() - 2);
        m.userTables = std::stoi(cells[4]);
        m.systemTables = std::stoi(cells[5]);
        m.userRows = std::stoull(cells[6]);
        m.features = cells[7];
        out.push_back(m);
    }
    return out;
}

}  // namespace jet_test
