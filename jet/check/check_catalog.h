#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "jet/check/check_context.h"

namespace jet {

// Cross references of the catalog (MSysObjects) and the system tables that name
// its objects: unique Ids and names, existing parents, table types, MSysACEs
// object Ids, complex-column rows, and every object's property blob.
class CatalogChecker {
public:
    explicit CatalogChecker(CheckContext& ctx) : ctx_(ctx) {}
    void run();

private:
    void checkEntries();
    void checkAccessControl();
    void checkNavigationPane();
    // Rows of a system table whose Id column names no object of `known` (the value
    // `ignored` aside); 0 when the table, its column or its rows cannot be read.
    std::size_t rowsNamingNoObject(const std::string& tableName, const std::string& columnName,
                                   const std::set<std::int32_t>& known, std::int64_t ignored);
    void checkComplexColumns();
    void checkProperties();
    void checkQueries();
    void checkRelationships();

    CheckContext& ctx_;
};

}  // namespace jet
