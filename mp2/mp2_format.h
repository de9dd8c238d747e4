// The MPEG audio Layer II (ISO/IEC 11172-3, and the lower sampling frequencies of
// ISO/IEC 13818-3) pieces of mp2lenfit: header decoding and the probe (past an ID3v2
// tag).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/format.h"

namespace lenfit {

// Header fields, from the first byte of the syncword:
//   AAAAAAAA AAAABCCD EEEEFFGH IIJJKLMM
//   A syncword (12 bits)   B ID        C layer     D protection_bit
//   E bitrate_index        F sampling_frequency    G padding_bit  H private_bit
//   I mode                 J mode_extension        K copyright    L original  M emphasis
inline unsigned id_bit(const std::uint8_t* h) { return (h[1] >> 3) & 1u; }
inline unsigned layer_field(const std::uint8_t* h) { return (h[1] >> 1) & 3u; }
inline unsigned protection_bit(const std::uint8_t* h) { return h[1] & 1u; }
inline unsigned bitrate_index(const std::uint8_t* h) { return h[2] >> 4; }
inline unsigned sampling_frequency(const std::uint8_t* h) { return (h[2] >> 2) & 3u; }
inline unsigned padding_bit(const std::uint8_t* h) { return (h[2] >> 1) & 1u; }
inline unsigned mode(const std::uint8_t* h) { return h[3] >> 6; }

bool layer2_sync_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
// Frame length of a Layer II header, its padding byte included; 0 for free format,
// bitrate_index 15 and the reserved sampling_frequency 3.
std::uint32_t layer2_frame_bytes(const std::uint8_t* h);
std::uint32_t layer2_frame_length_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
// Whether two headers are alike in all four bytes but the padding bit.
bool layer2_same_shape(const std::uint8_t* h, const std::uint8_t* other);
extern const FrameSyntax layer2_frame_syntax;
// Length of the ID3v2 tag that the n bytes begin with, its footer included; 0 when
// they begin with none.
std::uint32_t id3v2_tag_length(const std::uint8_t* bytes, std::size_t n);

StreamFormat layer2_stream_format(const std::uint8_t* h, std::uint32_t offset);
// The description line, up to and including "and with(out) padding.\n".
std::string layer2_description(const std::uint8_t* h);


// Bitrate of a frame, kbit/s; 0 for free format.
int layer2_frame_bitrate_kbps(const std::uint8_t* h);
// A frame with the first frame's header and length that decodes to silence.
bool layer2_silent_unit(const std::uint8_t* frame, std::size_t length, std::vector<std::uint8_t>& silent);

extern const FormatTool mp2_tool;

}  // namespace lenfit
