#include "jet/table/table_definition.h"

#include <algorithm>

namespace jet {

namespace {
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool sameObjectName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    return true;
}

std::string lowerAsciiName(std::string name) {
    for (char& c : name) c = lowerAscii(c);
    return name;
}

const Column* TableDefinition::findColumn(std::string_view columnName) const {
    for (const Column& c : columns)
        if (sameObjectName(c.name, columnName)) return &c;
    return nullptr;
}

const Column* TableDefinition::columnByNumber(std::uint16_t number) const {
    for (const Column& c : columns)
        if (c.number == number) return &c;
    return nullptr;
}

const LongValueMaps* TableDefinition::longValueMapsFor(std::uint16_t columnNumber) const {
    for (const LongValueMaps& m : longValueMaps)
        if (m.columnNumber == columnNumber) return &m;
    return nullptr;
}

std::vector<const Column*> TableDefinition::columnsByNumber() const {
    std::vector<const Column*> out;
    out.reserve(columns.size());
    for (const Column& c : columns) out.push_back(&c);
    std::stable_sort(out.begin(), out.end(),
                     [](const Column* a, const Column* b) { return a->number < b->number; });
    return out;
}

}  // namespace jet
