#include "jet/check/page_type_name.h"

#include "jet/table/data_page.h"

namespace jet {

std::string pageTypeName(std::uint8_t type) {
    switch (type) {
        case 0x00: return "página do tipo do cabeçalho (tipo 0)";
        case 0x01: return "página de dados";
        case 0x02: return "página de definição de tabela";
        case 0x03: return "página de índice (nó intermediário)";
        case 0x04: return "página de índice (folha)";
        case 0x05: return "página de mapa de uso";
    }
    return "página de tipo desconhecido (" + std::to_string(type) + ")";
}

std::string pageTypeName(std::uint8_t type, std::uint32_t dataOwner) {
    if (type == 0x01 && dataOwner == kLongValueOwner) return "página de valores longos";
    return pageTypeName(type);
}

}  // namespace jet
