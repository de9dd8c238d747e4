// Silent DTS core frames of a given shape, made from the syntax (ETSI TS 102 114): the
// shape's frame header with no auxiliary data and no extension audio, then primary
// audio that codes no sample bits. Every channel has two subbands, no high-frequency
// VQ subbands, no joint coding and no prediction, and every bit allocation is 0, so no
// scale factor and no sample follows; LFE samples and their scale are 0. Each
// subframe ends on the DSYNC word (each subsubframe, where ASPF asks for it), and
// zeros fill the frame to its length. A DTS-HD unit's silent unit is its core frame's
// silent frame alone.
#include <algorithm>
#include <array>

#include "common/bit_writer.h"
#include "dts/dts_format.h"

namespace lenfit {

namespace {

// Primary channels by AMODE 0 to 9; AMODE 10 and above are not coded in the core alone.
constexpr std::array<unsigned, 10> primary_channels = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5};
constexpr unsigned blocks_per_subsubframe = 8;
constexpr unsigned most_subframes = 16;
constexpr unsigned most_subsubframes = 4;
constexpr unsigned subbands = 2;
constexpr unsigned subbands_code = subbands - 2;
constexpr unsigned vq_start_code = subbands - 1;  // VQ from subband 2 on: none
constexpr unsigned linear_5_bit_allocation = 6;   // BHUFF: bit allocation in 5 bits
// Bits of the quantization index codebook select of each of the ten codebooks; the
// highest value of each means no Huffman code, and so no scale factor adjustment.
constexpr std::array<unsigned, 10> codebook_select_bits = {1, 2, 2, 2, 2, 3, 3, 3, 3, 3};
constexpr std::uint32_t dsync = 0xFFFF;
constexpr unsigned auxf_bit = 78;
constexpr unsigned ext_audio_bit = 83;

void clear_bit(std::vector<std::uint8_t>& bytes, unsigned bit) {
    bytes[bit / 8] &= static_cast<std::uint8_t>(~(0x80u >> (bit % 8)));
}

// Subsubframes per subframe: as many as divide the frame's groups of 8 blocks, so that
// the subframes are as few as can be.
unsigned subsubframes_for(unsigned groups) {
    for (unsigned count = most_subsubframes; count > 1; --count) {
        if (groups % count == 0 && groups / count <= most_subframes) return count;
    }
    return 1;
}

void put_coding_header(BitWriter& w, unsigned subframes, unsigned channels, bool crc) {
    put_bits(w, subframes - 1, 4);
    put_bits(w, channels - 1, 3);
    for (unsigned ch = 0; ch < channels; ++ch) put_bits(w, subbands_code, 5);
    for (unsigned ch = 0; ch < channels; ++ch) put_bits(w, vq_start_code, 5);
    for (unsigned ch = 0; ch < channels; ++ch) put_bits(w, 0, 3);  // JOINX: no joint coding
    for (unsigned ch = 0; ch < channels; ++ch) put_bits(w, 0, 2);  // THUFF
    for (unsigned ch = 0; ch < channels; ++ch) put_bits(w, 0, 3);  // SHUFF
    for (unsigned ch = 0; ch < channels; ++ch) put_bits(w, linear_5_bit_allocation, 3);
    for (unsigned bits : codebook_select_bits) {
        for (unsigned ch = 0; ch < channels; ++ch) put_bits(w, (1u << bits) - 1, bits);
    }
    if (crc) put_bits(w, 0, 16);  // AHCRC
}

struct SubframeShape {
    unsigned subsubframes;
    unsigned channels;
    unsigned lff;
    bool dynamic_range;
    bool crc;
    bool sync_every_subsubframe;
};

void put_subframe(BitWriter& w, const SubframeShape& shape) {
    put_bits(w, shape.subsubframes - 1, 2);
    put_bits(w, 0, 3);                                                              // PSC
    for (unsigned ch = 0; ch < shape.channels; ++ch) put_bits(w, 0, subbands);      // PMODE
    for (unsigned ch = 0; ch < shape.channels; ++ch) put_bits(w, 0, 5 * subbands);  // ABITS
    if (shape.dynamic_range) put_bits(w, 0, 8);                                     // RANGE
    if (shape.crc) put_bits(w, 0, 16);                                              // SICRC
    if (shape.lff != 0) {
        for (unsigned i = 0; i < 2 * shape.lff * shape.subsubframes; ++i) put_bits(w, 0, 8);  // LFE samples
        put_bits(w, 0, 8);                                                                     // LFE scale
    }
    for (unsigned ssf = 0; ssf < shape.subsubframes; ++ssf) {
        if (shape.sync_every_subsubframe || ssf + 1 == shape.subsubframes) put_bits(w, dsync, 16);
    }
}

}  // namespace

bool dts_silent_unit(const std::uint8_t* unit, std::size_t length, std::vector<std::uint8_t>& silent) {
    constexpr std::size_t checked_bytes = 15;  // the header with HCRC
    if (length < checked_bytes || dts_frame_length_at(unit, length, 0) == 0 ||
        !dts_core_sync_at(unit, length, 0)) {
        return false;
    }
    const unsigned blocks = dts_nblks(unit) + 1;
    if (dts_amode(unit) >= primary_channels.size() || blocks % blocks_per_subsubframe != 0) return false;
    const std::size_t header_bytes = dts_cpf(unit) ? 15 : 13;
    silent.assign(dts_fsize(unit) + 1, 0);
    std::copy(unit, unit + header_bytes, silent.begin());
    clear_bit(silent, auxf_bit);
    clear_bit(silent, ext_audio_bit);
    // A normal frame, of the whole block count.
    silent[4] |= 0xFC;

    const unsigned groups = blocks / blocks_per_subsubframe;
    const unsigned subsubframes = subsubframes_for(groups);
    const SubframeShape shape = {subsubframes, primary_channels[dts_amode(unit)], dts_lff(unit),
                                 dts_dynf(unit) != 0, dts_cpf(unit) != 0, dts_aspf(unit) != 0};
    BitWriter w{silent, header_bytes * 8};
    put_coding_header(w, groups / subsubframes, shape.channels, shape.crc);
    for (unsigned sf = 0; sf < groups / subsubframes; ++sf) put_subframe(w, shape);
    if (dts_timef(unit)) put_bits(w, 0, 32);  // TIMES
    return !w.overflowed;
}

}  // namespace lenfit
