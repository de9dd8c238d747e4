// The AC-3 (ATSC A/52) pieces of ac3lenfit: header decoding, the frame CRC, and the
// probe with its description of the stream.
#pragma once

#include <cstdint>
#include <string>

#include "common/lenfit.h"

namespace lenfit {

// Header fields, from the first byte of the sync word:
//   byte 0-1  syncword 0x0B77
//   byte 2-3  crc1
//   byte 4    fscod(2) frmsizecod(6)
//   byte 5    bsid(5) bsmod(3)
//   byte 6    acmod(3) [cmixlev(2)] [surmixlev(2)] [dsurmod(2)] lfeon(1) ...
inline unsigned fscod(const std::uint8_t* h) { return h[4] >> 6; }
inline unsigned frmsizecod(const std::uint8_t* h) { return h[4] & 0x3Fu; }
inline unsigned bsid(const std::uint8_t* h) { return h[5] >> 3; }
inline unsigned bsmod(const std::uint8_t* h) { return h[5] & 0x07u; }
inline unsigned acmod(const std::uint8_t* h) { return h[6] >> 5; }

bool ac3_sync_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
// At 44.1 kHz an odd frmsizecod adds one 16-bit word to the frame.
bool ac3_carries_extra_word(std::uint8_t fscod_frmsizecod);
// Frame length from header byte 4; 0 for the reserved fscod 3 and frmsizecod past 37.
std::uint32_t ac3_frame_bytes(std::uint8_t fscod_frmsizecod);
// Length of an AC-3 frame (bsid up to 10) whose sync word is at offset; 0 when there is
// none, a field is invalid, or bytes up to bsid lie past n.
std::uint32_t ac3_frame_length_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
// CRC-16 of the frame's bytes, as both CRC words of a frame are computed.
std::uint16_t ac3_crc16(const std::uint8_t* bytes, std::size_t n);
// Whether the CRC over bytes 2 to length - 1 of a whole frame is 0, as it is for every
// frame that arrived intact.
bool ac3_frame_passes_crc(const std::uint8_t* frame, std::size_t length);
extern const FrameSyntax ac3_frame_syntax;

// Format of a stream whose first frame header is h.
StreamFormat ac3_stream_format(const std::uint8_t* h, std::uint32_t offset);
// The two description lines of a stream whose first frame header is h.
std::string ac3_description(const std::uint8_t* h, const StreamFormat& format);

std::int64_t first_ac3_frame(std::FILE* input, ProbeBuffer& probe_buffer, std::size_t& header_at);
StreamFormat probe_ac3_stream(std::FILE* input, const std::string& input_path,
                              ProbeBuffer& probe_buffer);

extern const FormatTool ac3_tool;

}  // namespace lenfit
