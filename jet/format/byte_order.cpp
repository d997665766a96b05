#include "jet/format/byte_order.h"

#include <string>

namespace jet::bytes {

void throwOutOfBounds(std::size_t size, std::size_t offset, std::size_t n, const ErrorLocation& where) {
    ErrorLocation loc = where;
    if (!loc.offset) loc.offset = offset;
    throwCorruption("read of " + std::to_string(n) + " bytes at offset " + std::to_string(offset) +
                        " past the end of a " + std::to_string(size) + "-byte structure",
                    loc);
}

void throwWriteOutOfBounds(std::size_t size, std::size_t offset, std::size_t n) {
    throw JetError(ErrorKind::InvalidArgument, "Erro interno ao montar uma página",
                   "write of " + std::to_string(n) + " bytes at offset " + std::to_string(offset) +
                       " past the end of a " + std::to_string(size) + "-byte buffer");
}

}  // namespace jet::bytes
