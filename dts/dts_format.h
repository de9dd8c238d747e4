// The DTS (ETSI TS 102 114) pieces of dtslenfit: core frame and extension substream
// headers in 16-bit big-endian words, units of a core frame and the extension
// substream frames after it, the probe's description and refusals, and silent core
// frames.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/format.h"

namespace lenfit {

// Core frame header, bit positions from the first bit of the sync word:
//   0  SYNC 0x7FFE8001 (32)   32 FTYPE (1)   33 SHORT (5)   38 CPF (1)   39 NBLKS (7)
//   46 FSIZE (14)   60 AMODE (6)   66 SFREQ (4)   70 RATE (5)   75 FixedBit (1)
//   76 DYNF (1)   77 TIMEF (1)   78 AUXF (1)   79 HDCD (1)   80 EXT_AUDIO_ID (3)
//   83 EXT_AUDIO (1)   84 ASPF (1)   85 LFF (2)   87 HFLAG (1)   88 HCRC (16, when CPF)
//   then FILTS (1), VERNUM (4), CHIST (2), PCMR (3), SUMF (1), SUMS (1), DIALNORM (4).
// The value of `count` bits of the header from bit `first` on.
unsigned dts_field(const std::uint8_t* h, unsigned first, unsigned count);
inline unsigned dts_ftype(const std::uint8_t* h) { return dts_field(h, 32, 1); }
inline unsigned dts_short(const std::uint8_t* h) { return dts_field(h, 33, 5); }
inline unsigned dts_cpf(const std::uint8_t* h) { return dts_field(h, 38, 1); }
inline unsigned dts_nblks(const std::uint8_t* h) { return dts_field(h, 39, 7); }
inline unsigned dts_fsize(const std::uint8_t* h) { return dts_field(h, 46, 14); }
inline unsigned dts_amode(const std::uint8_t* h) { return dts_field(h, 60, 6); }
inline unsigned dts_sfreq(const std::uint8_t* h) { return dts_field(h, 66, 4); }
inline unsigned dts_dynf(const std::uint8_t* h) { return dts_field(h, 76, 1); }
inline unsigned dts_timef(const std::uint8_t* h) { return dts_field(h, 77, 1); }
inline unsigned dts_aspf(const std::uint8_t* h) { return dts_field(h, 84, 1); }
inline unsigned dts_lff(const std::uint8_t* h) { return dts_field(h, 85, 2); }

bool dts_core_sync_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
bool dts_substream_sync_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
// Length of the core frame (FSIZE + 1) or extension substream frame (nuExtSSFsize + 1)
// whose sync word is at offset; 0 when there is none, a field is invalid or the header
// up to the fields checked lies past n.
std::uint32_t dts_frame_length_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
// Sampling frequency of an SFREQ code, kHz; 0 for the invalid codes.
double dts_sample_rate_khz(unsigned sfreq);
// Samples a core frame plays: (NBLKS + 1) x 32.
unsigned dts_frame_samples(const std::uint8_t* h);
// Bitrate a whole unit of `length` bytes makes over its core frame's playing time,
// kbit/s, rounded.
std::int32_t dts_unit_bitrate(const std::uint8_t* unit, std::size_t length);
// Whether two core headers make silent frames of one shape: every header field but
// AUXF, EXT_AUDIO_ID and EXT_AUDIO (which a silent frame leaves 0) and HCRC.
bool dts_same_shape(const std::uint8_t* h, const std::uint8_t* other);
extern const FrameSyntax dts_frame_syntax;

StreamFormat dts_stream_format(const std::uint8_t* unit, std::size_t n, std::uint32_t offset);
// The description's line on the channels and the extension substream.
std::string dts_description(const std::uint8_t* unit, const StreamFormat& format);
// Whether the n bytes hold DTS that dtslenfit does not read: 14-bit words,
// little-endian order, or extension substreams without a core.
bool dts_unread_form(const std::uint8_t* bytes, std::size_t n);

// A core frame of the shape of the unit's core frame that decodes to silence; false
// where the shape cannot carry one (AMODE 10 and above, NBLKS + 1 not a multiple of 8,
// a frame too short for the side information).
bool dts_silent_unit(const std::uint8_t* unit, std::size_t length, std::vector<std::uint8_t>& silent);

extern const FormatTool dts_tool;

}  // namespace lenfit
