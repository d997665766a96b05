#pragma once

// Helpers for the index tests: pages read straight from corpus files, and small
// index pages built in memory (to damage them on purpose).

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "jet/index/index_page.h"

namespace jet::testing {

inline std::string corpusPath(const std::string& relative) { return std::string(COMPACTADOR_CORPUS_DIR) + "/" + relative; }

inline std::vector<std::uint8_t> readCorpusPage(const std::string& relative, std::uint32_t page, std::size_t pageSize) {
    std::ifstream in(corpusPath(relative), std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + relative);
    std::vector<std::uint8_t> out(pageSize);
    in.seekg(static_cast<std::streamoff>(page) * static_cast<std::streamoff>(pageSize));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(pageSize));
    if (in.gcount() != static_cast<std::streamsize>(pageSize)) throw std::runtime_error("short read in " + relative);
    return out;
}

// Builds an index page from full entries (key ‖ row pointer [‖ child]) with no prefix.
inline std::vector<std::uint8_t> buildIndexPage(const IndexPageLayout& l, bool leaf, std::uint32_t owner,
                                                const std::vector<std::vector<std::uint8_t>>& entries,
                                                std::uint32_t prev = 0, std::uint32_t next = 0,
                                                std::uint32_t tail = 0) {
    std::vector<std::uint8_t> p(l.pageSize, 0);
    auto put32 = [&](std::size_t off, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) p[off + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    p[0] = leaf ? 0x04 : 0x03;
    p[1] = 0x01;
    put32(4, owner);
    put32(l.prevOffset, prev);
    put32(l.nextOffset, next);
    put32(l.tailOffset, tail);
    p[l.nodeFlagOffset] = leaf ? 0x00 : 0x01;
    std::size_t pos = 0;
    for (const auto& e : entries) {
        for (std::size_t i = 0; i < e.size(); ++i) p[l.entriesOffset + pos + i] = e[i];
        pos += e.size();
        p[l.maskOffset + pos / 8] = static_cast<std::uint8_t>(p[l.maskOffset + pos / 8] | (1u << (pos % 8)));
    }
    const std::size_t freeSpace = l.pageSize - (l.entriesOffset + pos);
    p[2] = static_cast<std::uint8_t>(freeSpace);
    p[3] = static_cast<std::uint8_t>(freeSpace >> 8);
    return p;
}

// A leaf entry: one Long key segment (ascending) and a row pointer.
inline std::vector<std::uint8_t> leafEntry(std::int32_t key, std::uint32_t page, std::uint8_t row) {
    const auto u = static_cast<std::uint32_t>(key) ^ 0x80000000u;
    return {0x7F,
            static_cast<std::uint8_t>(u >> 24),
            static_cast<std::uint8_t>(u >> 16),
            static_cast<std::uint8_t>(u >> 8),
            static_cast<std::uint8_t>(u),
            static_cast<std::uint8_t>(page >> 16),
            static_cast<std::uint8_t>(page >> 8),
            static_cast<std::uint8_t>(page),
            row};
}

inline std::vector<std::uint8_t> nodeEntry(std::int32_t key, std::uint32_t page, std::uint8_t row, std::uint32_t child) {
    auto e = leafEntry(key, page, row);
    for (int i = 3; i >= 0; --i) e.push_back(static_cast<std::uint8_t>(child >> (8 * i)));
    return e;
}

}  // namespace jet::testing
