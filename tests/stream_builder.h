// Builds test streams byte by byte from the formats' header rules, independently of
// the tools' own decoders, and splits written streams back into frames.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace testkit {

using Bytes = std::vector<std::uint8_t>;

// Fields of an AC-3 header (ATSC A/52 syncinfo and the start of bsi).
struct Ac3Header {
    unsigned fscod = 0;        // 0: 48 kHz, 1: 44.1 kHz, 2: 32 kHz
    unsigned frmsizecod = 30;  // 448 kbit/s
    unsigned bsid = 8;
    unsigned bsmod = 0;
    unsigned acmod = 7;        // 3/2
    unsigned byte6_low = 1;    // bits 4-0 of byte 6: mix levels, dsurmod, lfeon
};

unsigned ac3_bitrate_kbps(const Ac3Header& header);
// CRC-16 (generator 0x8005, most significant bit first, from 0), bit by bit.
std::uint16_t ac3_crc(const std::uint8_t* bytes, std::size_t n);
// Sets crc2, the frame's last word, so that the CRC over bytes 2 to the end is 0.
void set_ac3_crc(Bytes& frame);
// Frame length in bytes from the standard's frame-size table, by integer arithmetic.
std::size_t ac3_length(const Ac3Header& header);
// A whole frame: the header, then a body that carries `index` and never holds the
// byte 0x0B, 0x77 or 0xFF, so no sync pattern appears inside it (but for crc2, the
// last word, which makes the frame pass its CRC).
Bytes ac3_frame(const Ac3Header& header, std::uint32_t index);
// `count` frames, frame i built from header_of(i).
Bytes ac3_frames(std::size_t count, const std::function<Ac3Header(std::size_t)>& header_of);
Bytes ac3_frames(std::size_t count, const Ac3Header& header);
// Fields of an E-AC-3 header (ATSC A/52 Annex E bsi, up to bsid).
struct Eac3Header {
    unsigned strmtyp = 0;      // 0 independent, 1 dependent, 2 converted from AC-3
    unsigned substreamid = 0;
    unsigned frame_bytes = 768;  // even; frmsiz is frame_bytes / 2 - 1
    unsigned fscod = 0;
    unsigned numblkscod = 3;   // 6 blocks
    unsigned acmod = 7;
    unsigned lfeon = 1;
    unsigned bsid = 16;
};
// A whole E-AC-3 frame with the same body as ac3_frame and a passing CRC.
Bytes eac3_frame(const Eac3Header& header, std::uint32_t index);
// A dependent substream frame of `frame_bytes` for a unit of 6 blocks at 48 kHz.
Eac3Header dependent_substream(unsigned frame_bytes);
// A 7.1-shaped unit number i: an AC-3 (448 kbit/s) or E-AC-3 (768 bytes) 5.1 frame at
// 48 kHz, then `dependents` dependent frames of 512 bytes.
Bytes surround_unit(bool ac3_core, unsigned dependents, std::uint32_t i);
// Splits a stream of AC-3 and E-AC-3 frames into units: a first frame with the
// dependent and further substream frames that follow it.
std::vector<Bytes> split_ac3_units(const Bytes& stream);

// Whether frame i of a 44.1 kHz stream is long, as an encoder that keeps the bitrate
// exact decides it: when the exact count of 16-bit words reaches a new whole word.
bool ac3_long_at_44k(std::size_t i, unsigned bitrate_kbps);

// Fields of an MPEG audio frame header.
struct Mp2Header {
    unsigned id = 1;              // 1: MPEG-1, 0: lower sampling frequencies
    unsigned layer = 2;           // layer field: 3 Layer I, 2 Layer II, 1 Layer III
    unsigned protection_bit = 1;  // 1: no CRC
    unsigned bitrate_index = 10;  // 192 kbit/s under ID 1
    unsigned sampling_frequency = 1;  // 48 kHz under ID 1
    unsigned padding = 0;
    unsigned mode = 0;            // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
};

Mp2Header mp2_header(unsigned id, unsigned sampling_frequency, unsigned bitrate_index,
                     unsigned padding = 0);
unsigned mp2_bitrate_kbps(const Mp2Header& header);
unsigned mp2_rate_hz(const Mp2Header& header);
// Layer II frame length from the standard's formula, by integer arithmetic; 0 for free
// format and reserved values.
std::size_t mp2_length(const Mp2Header& header);
Bytes mp2_frame(const Mp2Header& header, std::uint32_t index);
Bytes mp2_frames(std::size_t count, const std::function<Mp2Header(std::size_t)>& header_of);
Bytes mp2_frames(std::size_t count, const Mp2Header& header);
// Whether frame i is padded, as an encoder that keeps the bitrate exact decides it.
bool mp2_padded_at(std::size_t i, const Mp2Header& header);
std::vector<Bytes> split_mp2_frames(const Bytes& stream);

// Fields of a DTS core frame header (ETSI TS 102 114), 16-bit big-endian words.
struct DtsHeader {
    unsigned nblks = 15;     // 16 blocks of 32 samples
    unsigned fsize = 1023;   // 1024 bytes
    unsigned amode = 9;      // C+L+R+SL+SR
    unsigned sfreq = 13;     // 48 kHz
    unsigned rate = 15;      // 768 kbit/s
    unsigned lff = 2;        // LFE
    unsigned cpf = 0;        // header CRC
    unsigned aspf = 0;       // DSYNC after every subsubframe
};
double dts_rate_hz(unsigned sfreq);
// A whole core frame: the header, then a body that carries `index` and holds no byte of
// any sync word.
Bytes dts_core_frame(const DtsHeader& header, std::uint32_t index);
// An extension substream frame of `bytes` bytes (nExtSSIndex `substream`), its header
// size fields 8 and 16 bits wide, or 12 and 20 when `long_fields`.
Bytes dts_substream_frame(unsigned substream, std::size_t bytes, std::uint32_t index, bool long_fields = false);
// A DTS-HD unit: a core frame and one extension frame of each size given.
Bytes dts_hd_unit(const DtsHeader& header, const std::vector<std::size_t>& substream_bytes, std::uint32_t index);
Bytes dts_frames(std::size_t count, const DtsHeader& header);
// Splits a stream of DTS frames into units: a core frame with the extension substream
// frames after it.
std::vector<Bytes> split_dts_units(const Bytes& stream);

// Bytes without any sync pattern of any format.
Bytes junk(std::size_t count, std::uint32_t seed = 0);

void append(Bytes& to, const Bytes& bytes);

// Splits a stream of back-to-back frames by their headers' lengths; the frame lengths
// come from `length_of`, which gets the bytes at the frame's start and how many remain.
std::vector<Bytes> split_frames(const Bytes& stream,
                                const std::function<std::size_t(const std::uint8_t*, std::size_t)>& length_of);
std::vector<Bytes> split_ac3_frames(const Bytes& stream);

// What the tests know of each tool's format, one row per format.
struct FormatCase {
    const char* tag;           // the tool is <tag>lenfit
    const char* name_prefix;   // of the fixtures and families that hold its streams
    std::uint8_t first_byte;   // of every unit
    // The units of a stream: Layer II frames, AC-3 and E-AC-3 frames with their
    // substreams, DTS core frames with their extension substream frames.
    std::vector<Bytes> (*split_units)(const Bytes& stream);
    // The format's own silent unit of a unit's shape.
    bool (*silent_unit)(const std::uint8_t* unit, std::size_t length, std::vector<std::uint8_t>& silent);
    // Playing time of a unit, from its header by the standard's tables.
    double (*unit_seconds)(const Bytes& unit);
    bool crc_checked;  // a unit with flipped bits fails a check
    // Whether a unit that junk follows is taken: vouched for by its CRC (AC-3), or
    // taken whole (Layer II); DTS leaves it for damage, or trailing junk at the end.
    bool keeps_unit_before_junk;
    const char* not_this_format;  // the tool's message for other bytes, %s the path
    // A stream of `frames` frames of one shape, built byte by byte.
    Bytes (*sample_stream)(std::size_t frames);
};
const std::vector<FormatCase>& format_cases();
// The case of a fixture or family by its name (E-AC-3's "eac3" names are ac3lenfit's).
const FormatCase& format_of(const std::string& name);
// The built tool of a format, and its name.
std::string tool_path(const FormatCase& format);
std::string tool_name(const FormatCase& format);
// Test names and failures name the tool, not the record's bytes.
void PrintTo(const FormatCase& format, std::ostream* out);

// How an output stream was made from the input's frames.
struct FrameChanges {
    bool whole = false;  // the output is whole input frames, in order
    std::vector<std::size_t> duplicated;  // 1-based input frame numbers written twice
    std::vector<std::size_t> dropped;     // 1-based input frame numbers left out
    std::size_t frames_written = 0;
    std::string problem;
};
// Matches output frames against input frames in order: each input frame appears once,
// twice or not at all.
FrameChanges compare_frames(const std::vector<Bytes>& input, const std::vector<Bytes>& output);

}  // namespace testkit
