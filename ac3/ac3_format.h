// The AC-3 and E-AC-3 (ATSC A/52 and its Annex E) pieces of ac3lenfit: header
// decoding, the frame CRC, units of substreams, and the probe with its description of
// the stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/format.h"

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

// E-AC-3 header fields (bsid 11 to 16, in the same place as AC-3's):
//   byte 0-1  syncword 0x0B77
//   byte 2-3  strmtyp(2) substreamid(3) frmsiz(11)
//   byte 4    fscod(2) numblkscod(2) acmod(3) lfeon(1)
//   byte 5    bsid(5) dialnorm(3 of 5) ...
inline unsigned strmtyp(const std::uint8_t* h) { return h[2] >> 6; }
inline unsigned substreamid(const std::uint8_t* h) { return (h[2] >> 3) & 0x07u; }
inline unsigned frmsiz(const std::uint8_t* h) { return (h[2] & 0x07u) << 8 | h[3]; }
inline unsigned numblkscod(const std::uint8_t* h) { return (h[4] >> 4) & 0x03u; }
inline unsigned eac3_acmod(const std::uint8_t* h) { return (h[4] >> 1) & 0x07u; }
inline unsigned eac3_lfeon(const std::uint8_t* h) { return h[4] & 0x01u; }
// Whether the header, whose bsid is valid, is of the E-AC-3 syntax.
bool is_eac3(const std::uint8_t* h);
// Full-bandwidth channels of an audio coding mode, acmod of either syntax.
unsigned ac3_full_bandwidth_channels(unsigned acmod);
// lfeon of an AC-3 header, whose place depends on acmod.
bool ac3_lfe_on(const std::uint8_t* h);

bool ac3_sync_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
// At 44.1 kHz an odd frmsizecod adds one 16-bit word to the frame.
constexpr bool ac3_carries_extra_word(std::uint8_t fscod_frmsizecod) {
    return (fscod_frmsizecod >> 6) == 1 && (fscod_frmsizecod & 1u);
}
// Frame length from header byte 4; 0 for the reserved fscod 3 and frmsizecod past 37.
std::uint32_t ac3_frame_bytes(std::uint8_t fscod_frmsizecod);
// Length of an AC-3 frame (bsid up to 10) or E-AC-3 frame (bsid 11 to 16) whose sync
// word is at offset; 0 when there is none, a field is invalid or reserved, or bytes up
// to bsid lie past n.
std::uint32_t ac3_frame_length_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
// Audio blocks of 256 samples in the frame: 6 for AC-3.
unsigned ac3_frame_blocks(const std::uint8_t* h);
// Whether the frame carries on the unit of the frames before it: an E-AC-3 dependent
// substream, or an independent substream other than 0.
bool ac3_continues_unit(const std::uint8_t* h);
// CRC-16 of the frame's bytes, as both CRC words of a frame are computed, going on from
// the register value crc.
std::uint16_t ac3_crc16(const std::uint8_t* bytes, std::size_t n, std::uint16_t crc = 0);
// The register that `count` zero bytes turn into crc.
std::uint16_t ac3_crc16_before_zero_bytes(std::uint16_t crc, std::size_t count);
// Whether the CRC over bytes 2 to length - 1 of a whole frame is 0, as it is for every
// frame that arrived intact.
bool ac3_frame_passes_crc(const std::uint8_t* frame, std::size_t length);
// Whether two frame headers make silent frames of one shape: AC-3's fscod,
// frmsizecod, bsmod, acmod and lfeon; E-AC-3's strmtyp, substreamid, frmsiz, fscod,
// numblkscod, acmod and lfeon.
bool ac3_same_shape(const std::uint8_t* h, const std::uint8_t* other);
// Whether every frame of a whole unit passes its CRC.
bool ac3_unit_passes_crc(const std::uint8_t* unit, std::size_t length);
extern const FrameSyntax ac3_frame_syntax;

// Format of a stream whose first unit starts at `unit`, with n bytes at hand from there.
StreamFormat ac3_stream_format(const std::uint8_t* unit, std::size_t n, std::uint32_t offset);
// The description's line on the type, channels and substreams of a stream whose first
// unit starts at `unit`.
std::string ac3_description(const std::uint8_t* unit, const StreamFormat& format);

// A unit of the same frames, each of its frame's length, type, substream, rate, block
// count, channels and channel map, that decodes to silence; false where one cannot be
// made in the frames' lengths.
bool ac3_silent_unit(const std::uint8_t* unit, std::size_t length, std::vector<std::uint8_t>& silent);

extern const FormatTool ac3_tool;

}  // namespace lenfit
