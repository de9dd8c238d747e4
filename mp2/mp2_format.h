// The MPEG audio Layer II (ISO/IEC 11172-3, and the lower sampling frequencies of
// ISO/IEC 13818-3) pieces of mp2lenfit: header decoding, the probe, the tail rule, the
// frame-count check and the padding rule of the scaling pass.
#pragma once

#include <cstdint>
#include <string>

#include "common/lenfit.h"

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
extern const FrameSyntax layer2_frame_syntax;

StreamFormat layer2_stream_format(const std::uint8_t* h, std::uint32_t offset);
// The description line, up to and including "and with(out) padding.\n".
std::string layer2_description(const std::uint8_t* h);

StreamFormat probe_layer2_stream(std::FILE* input, const std::string& input_path,
                                 ProbeBuffer& probe_buffer);
std::int64_t layer2_trailing_junk(const ProbeBuffer& window, const StreamFormat& format);
// Warns and turns on the padding rule when the stream holds no whole number of frames.
void check_frame_regularity(double frames_exact, std::uint64_t frame_count, StreamFormat& format);
FrameAlignmentRule layer2_alignment_rule(const StreamFormat& format);

extern const FormatTool mp2_tool;

}  // namespace lenfit
