// Writes fields of a frame most significant bit first, as the formats' syntax lays
// them out, into a frame of a fixed length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace lenfit {

struct BitWriter {
    std::vector<std::uint8_t>& bytes;  // sized beforehand, zero where nothing is written
    std::size_t bit = 0;               // the next bit to write, from the first byte's top
    bool overflowed = false;           // a field did not fit
};

inline void put_bits(BitWriter& writer, std::uint32_t value, unsigned count) {
    for (unsigned i = count; i-- > 0;) {
        if (writer.bit / 8 >= writer.bytes.size()) {
            writer.overflowed = true;
            return;
        }
        if ((value >> i) & 1u) writer.bytes[writer.bit / 8] |= static_cast<std::uint8_t>(0x80u >> (writer.bit % 8));
        ++writer.bit;
    }
}

}  // namespace lenfit
