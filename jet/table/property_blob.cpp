#include "jet/table/property_blob.h"

#include <cstring>

#include "jet/format/byte_order.h"
#include "jet/format/jet_error.h"
#include "jet/table/value_decoder.h"

namespace jet {

PropertyBlob PropertyBlob::parse(std::span<const std::uint8_t> blob, bool jet3, const ValueDecoder& values) {
    const ErrorLocation at{.structure = "propriedades"};
    PropertyBlob out;
    if (blob.size() < 4) throwCorruption("property blob shorter than its header", at);
    const char* expected = jet3 ? "KKD" : "MR2";
    if (std::memcmp(blob.data(), expected, 3) != 0 || blob[3] != 0)
        throwCorruption("property blob has an unknown header", at);
    auto readName = [&](std::span<const std::uint8_t> d, std::size_t& pos) {
        const std::size_t n = bytes::u16le(d, pos, at);
        pos += 2;
        const auto text = bytes::slice(d, pos, n, at);
        pos += n;
        return values.decodeText(text);
    };
    std::size_t pos = 4;
    while (pos < blob.size()) {
        const std::uint32_t length = bytes::u32le(blob, pos, at);
        const std::uint16_t type = bytes::u16le(blob, pos + 4, at);
        if (length < 6) throwCorruption("property chunk shorter than its header", at);
        const auto chunk = bytes::slice(blob, pos, length, at);
        const auto body = chunk.subspan(6);
        if (type == 0x0080) {
            std::size_t p = 0;
            while (p < body.size()) out.names.push_back(readName(body, p));
        } else if (type == 0x0000 || type == 0x0001) {
            PropertyGroup g;
            g.chunkType = type;
            const std::uint32_t nameBlock = bytes::u32le(body, 0, at);
            if (nameBlock < 4 || nameBlock > body.size()) throwCorruption("property name block has a bad length", at);
            if (nameBlock > 6) {
                std::size_t p = 4;
                g.objectName = readName(body.first(nameBlock), p);
            }
            std::size_t p = nameBlock;
            while (p < body.size()) {
                const std::uint16_t recordLength = bytes::u16le(body, p, at);
                if (recordLength < 8) throwCorruption("property record shorter than its header", at);
                const auto rec = bytes::slice(body, p, recordLength, at);
                Property prop;
                prop.ddl = rec[2] != 0;
                prop.type = rec[3];
                const std::uint16_t nameIndex = bytes::u16le(rec, 4, at);
                const std::uint16_t valueLength = bytes::u16le(rec, 6, at);
                if (nameIndex >= out.names.size()) throwCorruption("property name index outside the name list", at);
                prop.name = out.names[nameIndex];
                const auto raw = bytes::slice(rec, 8, valueLength, at);
                prop.rawValue.assign(raw.begin(), raw.end());
                prop.value = values.decodeBytes(prop.type, raw, nullptr, at);
                g.properties.push_back(std::move(prop));
                p += recordLength;
            }
            out.groups.push_back(std::move(g));
        }
        // Other chunk types are unknown; skipped but kept in the raw blob.
        pos += length;
    }
    return out;
}

const Property* PropertyBlob::objectProperty(const std::string& name) const {
    for (const PropertyGroup& g : groups) {
        if (g.chunkType != 0x0000) continue;
        for (const Property& p : g.properties)
            if (p.name == name) return &p;
    }
    return nullptr;
}

}  // namespace jet
