#pragma once

#include <cstdint>
#include <string>

namespace jet {

// What a page's first byte makes it, in words for users: "página de dados",
// "página de definição de tabela", "página de índice (folha)", ... A data page's
// owner tells a long-value page from a table's: pass it when known.
std::string pageTypeName(std::uint8_t type);
std::string pageTypeName(std::uint8_t type, std::uint32_t dataOwner);

}  // namespace jet
