#include "jet/table/column_type.h"

#include <cstdio>

namespace jet {

std::string columnTypeName(std::uint8_t type) {
    switch (type) {
        case column_type::Boolean: return "bool";
        case column_type::Byte: return "byte";
        case column_type::Integer: return "int";
        case column_type::Long: return "long";
        case column_type::Currency: return "currency";
        case column_type::Single: return "single";
        case column_type::Double: return "double";
        case column_type::DateTime: return "datetime";
        case column_type::Binary: return "binary";
        case column_type::Text: return "text";
        case column_type::Ole: return "ole";
        case column_type::Memo: return "memo";
        case column_type::Guid: return "guid";
        case column_type::Numeric: return "decimal";
        case column_type::Complex: return "complex";
        case column_type::BigInt: return "bigint";
        case column_type::ExtendedDateTime: return "datetime_ext";
        default: {
            char buf[16];
            std::snprintf(buf, sizeof buf, "unknown_0x%02x", static_cast<unsigned>(type));
            return buf;
        }
    }
}

std::size_t fixedSizeOf(std::uint8_t type) {
    switch (type) {
        case column_type::Byte: return 1;
        case column_type::Integer: return 2;
        case column_type::Long: return 4;
        case column_type::Currency: return 8;
        case column_type::Single: return 4;
        case column_type::Double: return 8;
        case column_type::DateTime: return 8;
        case column_type::Guid: return 16;
        case column_type::Numeric: return 17;
        case column_type::Binary3992: return 3992;
        case column_type::Complex: return 4;
        case column_type::BigInt: return 8;
        case column_type::ExtendedDateTime: return 42;
        default: return 0;
    }
}

}  // namespace jet
