#pragma once

#include <cstdint>
#include <string>

#include "jet/format/page_number.h"

namespace jet {

// Object types of the catalog's Type column.
namespace object_type {
inline constexpr std::int16_t LocalTable = 1;
inline constexpr std::int16_t Database = 2;
inline constexpr std::int16_t Container = 3;
inline constexpr std::int16_t OdbcLinkedTable = 4;
inline constexpr std::int16_t Query = 5;
inline constexpr std::int16_t LinkedTable = 6;
inline constexpr std::int16_t Relationship = 8;
}  // namespace object_type

inline constexpr std::int32_t kTablesContainerId = 0x0F000001;

// One row of MSysObjects.
struct CatalogEntry {
    std::int32_t id = 0;
    std::int32_t parentId = 0;
    std::string name;
    std::int16_t type = 0;
    std::uint32_t flags = 0;
    RowPointer location;  // the catalog row (slot) it was read from

    bool isSystem() const { return (flags & 0x80000002u) != 0; }
    bool isHidden() const { return (flags & 0x00000008u) != 0; }
};

}  // namespace jet
