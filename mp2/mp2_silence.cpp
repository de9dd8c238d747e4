// Silent Layer II frames: the first frame's header, then every bit allocation 0, which
// leaves no scale factors and no samples, so every decoded sample is 0. Where the
// header asks for a CRC, it covers the header's last 16 bits and the allocation bits
// (ISO/IEC 11172-3), all of them 0 here.
#include <algorithm>
#include <array>

#include "mp2/mp2_format.h"

namespace lenfit {

namespace {

// Bits of bit allocation per subband, nbal, in the allocation tables of ISO/IEC
// 11172-3 Annex B, Tables B.2a to B.2d, and of ISO/IEC 13818-3 Table B.1 for the lower
// sampling frequencies.
struct AllocationTable {
    unsigned sblimit;
    std::array<std::uint8_t, 30> nbal;
};
constexpr AllocationTable table_b2a = {27, {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3,
                                            3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2}};
constexpr AllocationTable table_b2b = {30, {4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3,
                                            3, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2, 2, 2, 2}};
constexpr AllocationTable table_b2c = {8, {4, 4, 3, 3, 3, 3, 3, 3}};
constexpr AllocationTable table_b2d = {12, {4, 4, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3}};
constexpr AllocationTable table_lsf = {30, {4, 4, 4, 4, 3, 3, 3, 3, 3, 3, 3, 2, 2, 2, 2,
                                            2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2}};

// The table a frame uses, by its version, sampling frequency and bitrate per channel.
const AllocationTable& allocation_table(const std::uint8_t* h) {
    if (id_bit(h) == 0) return table_lsf;
    const unsigned channels = mode(h) == 3 ? 1 : 2;
    const int per_channel = layer2_frame_bitrate_kbps(h) / static_cast<int>(channels);
    const unsigned frequency = sampling_frequency(h);  // 0: 44.1, 1: 48, 2: 32 kHz
    if ((frequency == 1 && per_channel >= 56) || (per_channel >= 56 && per_channel <= 80)) return table_b2a;
    if (frequency != 1 && per_channel >= 96) return table_b2b;
    if (frequency != 2 && per_channel <= 48) return table_b2c;
    return table_b2d;
}

// Bits of the bit allocation section: both channels' allocations up to the joint stereo
// bound, one allocation per subband after it.
unsigned allocation_bits(const std::uint8_t* h) {
    const AllocationTable& table = allocation_table(h);
    const unsigned channels = mode(h) == 3 ? 1 : 2;
    // mode 1 is joint stereo, whose mode_extension sets the bound at 4, 8, 12 or 16.
    unsigned bound = mode(h) == 1 ? 4 * (((h[3] >> 4) & 3u) + 1) : table.sblimit;
    if (bound > table.sblimit) bound = table.sblimit;
    unsigned bits = 0;
    for (unsigned sb = 0; sb < table.sblimit; ++sb) bits += table.nbal[sb] * (sb < bound ? channels : 1);
    return bits;
}

// CRC-16, generator 0x8005, from all ones, over the header's bytes 2 and 3 and then
// `zero_bits` zero bits.
std::uint16_t layer2_crc(const std::uint8_t* h, unsigned zero_bits) {
    unsigned crc = 0xFFFF;
    const auto take = [&crc](unsigned bit) {
        const unsigned top = (crc >> 15) & 1u;
        crc = (crc << 1) & 0xFFFFu;
        if (top ^ bit) crc ^= 0x8005u;
    };
    for (unsigned byte = 2; byte < 4; ++byte) {
        for (int bit = 7; bit >= 0; --bit) take((h[byte] >> bit) & 1u);
    }
    for (unsigned i = 0; i < zero_bits; ++i) take(0);
    return static_cast<std::uint16_t>(crc);
}

}  // namespace

bool layer2_silent_unit(const std::uint8_t* frame, std::size_t length, std::vector<std::uint8_t>& silent) {
    constexpr std::size_t header_bytes = 4;
    constexpr std::size_t crc_bytes = 2;
    if (length < header_bytes + crc_bytes || layer_field(frame) != 2) return false;
    silent.assign(length, 0);
    std::copy(frame, frame + header_bytes, silent.begin());
    if (protection_bit(frame) == 0) {
        const std::uint16_t crc = layer2_crc(frame, allocation_bits(frame));
        silent[4] = static_cast<std::uint8_t>(crc >> 8);
        silent[5] = static_cast<std::uint8_t>(crc);
    }
    return true;
}

}  // namespace lenfit
