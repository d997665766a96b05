#include "jet/format/rc4.h"

#include <utility>

namespace jet {

Rc4::Rc4(std::span<const std::uint8_t> key) {
    for (int k = 0; k < 256; ++k) s_[k] = static_cast<std::uint8_t>(k);
    if (key.empty()) return;
    std::uint8_t j = 0;
    for (std::size_t k = 0; k < 256; ++k) {
        j = static_cast<std::uint8_t>(j + s_[k] + key[k % key.size()]);
        std::swap(s_[k], s_[j]);
    }
}

void Rc4::apply(std::span<std::uint8_t> data) {
    for (std::uint8_t& b : data) {
        i_ = static_cast<std::uint8_t>(i_ + 1);
        j_ = static_cast<std::uint8_t>(j_ + s_[i_]);
        std::swap(s_[i_], s_[j_]);
        b ^= s_[static_cast<std::uint8_t>(s_[i_] + s_[j_])];
    }
}

void rc4Apply(std::uint32_t key, std::span<std::uint8_t> data) {
    const std::uint8_t k[4] = {static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(key >> 8),
                               static_cast<std::uint8_t>(key >> 16), static_cast<std::uint8_t>(key >> 24)};
    Rc4 rc4(k);
    rc4.apply(data);
}

}  // namespace jet
