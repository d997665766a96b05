#pragma once

#include <cstdint>
#include <string>

namespace jet {

// Column type codes as stored in column blocks. Codes not listed here occur
// (e.g. 0x46..0x48 in test files) and are carried as opaque bytes.
namespace column_type {
inline constexpr std::uint8_t Boolean = 0x01;
inline constexpr std::uint8_t Byte = 0x02;
inline constexpr std::uint8_t Integer = 0x03;
inline constexpr std::uint8_t Long = 0x04;
inline constexpr std::uint8_t Currency = 0x05;
inline constexpr std::uint8_t Single = 0x06;
inline constexpr std::uint8_t Double = 0x07;
inline constexpr std::uint8_t DateTime = 0x08;
inline constexpr std::uint8_t Binary = 0x09;
inline constexpr std::uint8_t Text = 0x0A;
inline constexpr std::uint8_t Ole = 0x0B;
inline constexpr std::uint8_t Memo = 0x0C;
inline constexpr std::uint8_t Unknown0D = 0x0D;
inline constexpr std::uint8_t Guid = 0x0F;
inline constexpr std::uint8_t Numeric = 0x10;
inline constexpr std::uint8_t Binary3992 = 0x11;  // Access 2000 MSysAccessObjects.Data
inline constexpr std::uint8_t Complex = 0x12;
inline constexpr std::uint8_t BigInt = 0x13;
inline constexpr std::uint8_t ExtendedDateTime = 0x14;
}  // namespace column_type

// The type's name in dumps: bool, byte, int, long, currency, single, double,
// datetime, binary, text, ole, memo, guid, decimal, complex, bigint,
// datetime_ext, or unknown_0xNN.
std::string columnTypeName(std::uint8_t type);

// Size in the fixed area for fixed-size types; 0 for Boolean (null mask only)
// and for types without a fixed size.
std::size_t fixedSizeOf(std::uint8_t type);

// Memo and OLE: values are long-value descriptors.
constexpr bool isLongValueType(std::uint8_t type) {
    return type == column_type::Memo || type == column_type::Ole;
}
constexpr bool isTextType(std::uint8_t type) {
    return type == column_type::Text || type == column_type::Memo;
}

}  // namespace jet
