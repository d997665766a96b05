#include "scratch_set.h"

#include <stdexcept>

namespace maintenance {

ScratchSet::ScratchSet(const std::string& programFolder)
    : paths_{programFolder + "/compac01.mdb", programFolder + "/compac02.mdb", programFolder + "/compac03.mdb"},
      note_(programFolder + "/compac01-restauracao-pendente.txt") {}

const std::string& ScratchSet::path(int number) const {
    if (number < 1 || number > kCount) throw std::out_of_range("scratch number out of range");
    return paths_[static_cast<std::size_t>(number - 1)];
}

}  // namespace maintenance
