#pragma once

// Helpers for the compaction tests: temporary folders and table contents in a
// form that can be compared between a source and its compacted copy.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "jet/table/database.h"

namespace jet_test {

class ScratchDir {
public:
    ScratchDir() {
        std::string tmpl = (std::filesystem::temp_directory_path() / "compact-test-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = tmpl;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline std::vector<std::uint8_t> fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Columns whose values are catalog Ids of tables (they change with compaction).
inline bool isIdColumn(const std::string& table, const std::string& column) {
    static const std::vector<std::pair<std::string, std::string>> ids = {
        {"msysobjects", "id"},
        {"msysaces", "objectid"},
        {"msysnavpaneobjectids", "id"},
        {"msysnavpanegrouptoobjects", "objectid"},
        {"msysnavpanegroups", "objectid"},
        {"msysnavpanegroupcategories", "selectedobjectid"},
        {"msyscomplexcolumns", "complextypeobjectid"},
        {"msyscomplexcolumns", "flattableid"},
        {"msyscomplexcolumns", "conceptualtableid"},
    };
    auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return s;
    };
    const std::string t = lower(table), c = lower(column);
    for (const auto& [it, ic] : ids)
        if (it == t && ic == c) return true;
    return false;
}

// Every row of a table as one line of canonical values (columns by number), with
// Id columns passed through `idMap`; sorted, since compaction may reorder rows.
// An Id naming no table of `db` (a navigation-pane row of a deleted object) reads
// "dangling": its value may change, but it must keep naming no table.
inline std::vector<std::string> tableRows(jet::Database& db, const jet::TableEntry& table,
                                          const std::map<std::int32_t, std::int32_t>& idMap) {
    constexpr std::int32_t kFirstContainerId = 0x0F000000;
    std::set<std::int32_t> tableIds;
    for (const jet::TableEntry& t : db.tables()) tableIds.insert(t.catalog.id);
    std::vector<std::string> rows;
    std::vector<jet::Value> values;
    const auto byNumber = table.definition->columnsByNumber();
    jet::TableCursor cursor = db.cursor(table);
    while (cursor.next()) {
        cursor.values(values);
        std::string line;
        for (const jet::Column* col : byNumber) {
            const std::size_t i = static_cast<std::size_t>(col - table.definition->columns.data());
            jet::Value v = values[i];
            bool dangling = false;
            if (isIdColumn(table.name(), col->name))
                if (auto* id = std::get_if<std::int32_t>(&v)) {
                    dangling = *id > 0 && *id < kFirstContainerId && !tableIds.count(*id);
                    auto it = idMap.find(*id);
                    if (it != idMap.end()) v = it->second;
                }
            line += dangling ? std::string("dangling") : jet::isNull(v) ? std::string("\\N") : jet::canonicalText(v);
            line += '\t';
        }
        rows.push_back(std::move(line));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Old table Id -> new table Id, matching tables by name.
inline std::map<std::int32_t, std::int32_t> tableIdMap(const jet::Database& before, const jet::Database& after) {
    std::map<std::int32_t, std::int32_t> ids;
    for (const jet::TableEntry& t : before.tables())
        if (const jet::TableEntry* o = after.findTable(t.name()))
            ids[t.catalog.id] = o->catalog.id;
    return ids;
}

}  // namespace jet_test
