// The engine's folders are layers: a file may include its own layer and the ones
// below it, never one above, and nothing outside the engine. These tests read the
// sources themselves, so an include that breaks the layering fails here before it
// becomes a habit.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Bottom to top.
constexpr std::array<const char*, 6> kLayers = {"format", "table", "index", "check", "compact", "repair"};

int layerRank(const std::string& name) {
    const auto it = std::find(kLayers.begin(), kLayers.end(), name);
    return it == kLayers.end() ? -1 : static_cast<int>(it - kLayers.begin());
}

fs::path engineDir() { return fs::path(COMPACTADOR_SOURCE_DIR) / "jet"; }

bool isSource(const fs::path& p) {
    const auto ext = p.extension();
    return ext == ".h" || ext == ".cpp" || ext == ".inc";
}

struct Include {
    int line = 0;
    bool quoted = false;  // "..." (a project header) rather than <...> (the system's)
    std::string target;
};

std::vector<Include> includesOf(const fs::path& file) {
    static const std::regex include(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
    std::vector<Include> found;
    std::ifstream in(file);
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        std::smatch m;
        if (std::regex_search(text, m, include)) found.push_back({line, m[1].str() == "\"", m[2].str()});
    }
    return found;
}

TEST(EngineLayers, EveryFileLivesInALayerFolderThatExplainsItself) {
    for (const auto& entry : fs::directory_iterator(engineDir())) {
        const auto name = entry.path().filename().string();
        if (entry.is_directory()) {
            EXPECT_GE(layerRank(name), 0) << "jet/" << name << " is not one of the engine's layers";
            EXPECT_TRUE(fs::is_regular_file(entry.path() / "README.md")) << "jet/" << name << " has no README.md";
        } else {
            EXPECT_TRUE(name == "CMakeLists.txt" || name == "README.md")
                << "jet/" << name << " lies outside every layer folder";
        }
    }
    for (const char* layer : kLayers) {
        EXPECT_TRUE(fs::is_directory(engineDir() / layer)) << "missing layer folder jet/" << layer;
    }
}

TEST(EngineLayers, NoFileIncludesALayerAboveItsOwnOrAnythingOutsideTheEngine) {
    static const std::regex engineHeader(R"(^jet/([a-z_]+)/[A-Za-z0-9_]+\.(h|inc)$)");
    std::size_t checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(engineDir())) {
        if (!entry.is_regular_file() || !isSource(entry.path())) continue;
        const fs::path relative = fs::relative(entry.path(), engineDir());
        const std::string layer = relative.begin()->string();
        const int rank = layerRank(layer);
        ASSERT_GE(rank, 0) << relative;
        for (const auto& inc : includesOf(entry.path())) {
            ++checked;
            const std::string where = "jet/" + relative.string() + ":" + std::to_string(inc.line) + " includes " + inc.target;
            if (!inc.quoted) {
                // The standard library and the system's headers, but no Qt.
                EXPECT_NE(inc.target.front(), 'Q') << where << ": the engine knows nothing of Qt";
                continue;
            }
            std::smatch m;
            if (!std::regex_match(inc.target, m, engineHeader)) {
                ADD_FAILURE() << where << ": the engine includes only its own headers and the system's";
                continue;
            }
            const int includedRank = layerRank(m[1].str());
            EXPECT_GE(includedRank, 0) << where << ": no such layer";
            EXPECT_LE(includedRank, rank) << where << ": " << m[1].str() << " lies above " << layer;
        }
    }
    EXPECT_GT(checked, 100u) << "the engine's sources were not found under " << engineDir();
}

}  // namespace
