#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/table/value.h"

namespace jet {

class ValueDecoder;

// One property of an object or column.
struct Property {
    std::string name;
    std::uint8_t type = 0;  // column type code of the value
    bool ddl = false;       // created by DDL ("inherited")
    Value value;
    std::vector<std::uint8_t> rawValue;
};

// Properties of the object itself (chunk 0x0000) or of one column (0x0001).
struct PropertyGroup {
    std::uint16_t chunkType = 0;
    std::string objectName;  // column name; usually empty for the object itself
    std::vector<Property> properties;
};

// An LvProp blob ("KKD\0" Jet3, "MR2\0" Jet4+): a name list and property groups.
struct PropertyBlob {
    std::vector<std::string> names;
    std::vector<PropertyGroup> groups;

    // Throws a corruption error when the blob's structure is inconsistent.
    static PropertyBlob parse(std::span<const std::uint8_t> blob, bool jet3, const ValueDecoder& values);

    // The object's own property (chunk 0x0000) named `name`, or nullptr.
    const Property* objectProperty(const std::string& name) const;
};

}  // namespace jet
