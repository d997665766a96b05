#pragma once

#include "jet/check_context.h"

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
    void checkComplexColumns();
    void checkProperties();
    void checkQueries();
    void checkRelationships();

    CheckContext& ctx_;
};

}  // namespace jet
