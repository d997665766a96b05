#include "jet/format/jet_error.h"

#include <cstdio>
#include <utility>

namespace jet {

namespace {

std::string hex(std::size_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%zx", v);
    return buf;
}

std::string compose(const std::string& message, const ErrorLocation& where) {
    const std::string place = where.describe();
    if (place.empty()) return message;
    return message + " (" + place + ")";
}

}  // namespace

std::string ErrorLocation::describe() const {
    std::string out;
    auto add = [&out](const std::string& part) {
        if (!out.empty()) out += ", ";
        out += part;
    };
    if (!table.empty()) add("tabela " + table);
    if (!structure.empty()) add(structure);
    if (page) add("página " + std::to_string(*page));
    if (row) add("linha " + std::to_string(*row));
    if (offset) add("posição " + hex(*offset));
    return out;
}

JetError::JetError(ErrorKind kind, const std::string& user_message, std::string detail,
                   ErrorLocation location)
    : std::runtime_error(compose(user_message, location)),
      kind_(kind),
      user_message_(user_message),
      detail_(std::move(detail)),
      location_(std::move(location)) {}

JetError JetError::withContext(const ErrorLocation& outer) const {
    ErrorLocation merged = location_;
    if (!merged.page) merged.page = outer.page;
    if (!merged.offset) merged.offset = outer.offset;
    if (!merged.row) merged.row = outer.row;
    if (merged.table.empty()) merged.table = outer.table;
    if (merged.structure.empty()) merged.structure = outer.structure;
    return JetError(kind_, user_message_, detail_, std::move(merged));
}

void throwCorruption(const std::string& detail, const ErrorLocation& where) {
    throw JetError(ErrorKind::Corruption, "O banco de dados está danificado", detail, where);
}

}  // namespace jet
