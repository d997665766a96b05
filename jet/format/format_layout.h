#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

// The offsets and sizes that differ between Jet3 and Jet4+ (Jet4 and every ACE
// version share one layout).
struct FormatLayout {
    bool jet3 = false;
    std::size_t pageSize = 4096;

    // Data pages.
    std::size_t dataOwner = 0x04;
    std::size_t dataRowCount = 0x0C;
    std::size_t dataRowTable = 0x0E;  // also the data page header size

    // TDEF header.
    std::size_t tdefLength = 0x08;
    std::size_t tdefRowCount = 0x10;
    std::size_t tdefAutonumber = 0x14;
    std::size_t tdefComplexAutonumber = 0x1C;  // Jet4+ only
    std::size_t tdefTableType = 0x28;
    std::size_t tdefMaxColumns = 0x29;
    std::size_t tdefVarColumns = 0x2B;
    std::size_t tdefColumnCount = 0x2D;
    std::size_t tdefIndexCount = 0x2F;
    std::size_t tdefRealIndexCount = 0x33;
    std::size_t tdefOwnedMap = 0x37;
    std::size_t tdefFreeMap = 0x3B;
    std::size_t tdefHeaderEnd = 0x3F;
    std::size_t indexStatisticsSize = 12;
    std::size_t columnBlockSize = 25;
    std::size_t physicalIndexSize = 52;
    std::size_t logicalIndexSize = 28;

    // Index pages have their own layout: IndexPageLayout in index_page.h.

    // Long values: data bytes in one full chain chunk.
    std::size_t longValueChunkData = 4072;

    static FormatLayout forJet3();
    static FormatLayout forJet4();
};

inline FormatLayout FormatLayout::forJet4() { return FormatLayout{}; }

inline FormatLayout FormatLayout::forJet3() {
    FormatLayout l;
    l.jet3 = true;
    l.pageSize = 2048;
    l.dataRowCount = 0x08;
    l.dataRowTable = 0x0A;
    l.tdefRowCount = 0x0C;
    l.tdefAutonumber = 0x10;
    l.tdefComplexAutonumber = 0;
    l.tdefTableType = 0x14;
    l.tdefMaxColumns = 0x15;
    l.tdefVarColumns = 0x17;
    l.tdefColumnCount = 0x19;
    l.tdefIndexCount = 0x1B;
    l.tdefRealIndexCount = 0x1F;
    l.tdefOwnedMap = 0x23;
    l.tdefFreeMap = 0x27;
    l.tdefHeaderEnd = 0x2B;
    l.indexStatisticsSize = 8;
    l.columnBlockSize = 18;
    l.physicalIndexSize = 39;
    l.logicalIndexSize = 20;
    l.longValueChunkData = 2032;
    return l;
}

}  // namespace jet
