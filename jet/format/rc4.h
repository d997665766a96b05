#pragma once

#include <cstdint>
#include <span>

namespace jet {

// RC4, used by Jet for the page-0 header mask and for whole-database encoding.
// Encrypting and decrypting are the same XOR with the key stream.
class Rc4 {
public:
    explicit Rc4(std::span<const std::uint8_t> key);
    void apply(std::span<std::uint8_t> data);

private:
    std::uint8_t s_[256];
    std::uint8_t i_ = 0;
    std::uint8_t j_ = 0;
};

// XORs `data` with the key stream of the 4-byte little-endian key.
void rc4Apply(std::uint32_t key, std::span<std::uint8_t> data);

}  // namespace jet
