// Builds test streams byte by byte from the formats' header rules, independently of
// the tools' own decoders, and splits written streams back into frames.
#pragma once

#include <cstdint>
#include <functional>
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

// Frame length in bytes from the standard's frame-size table, by integer arithmetic.
std::size_t ac3_length(const Ac3Header& header);
// A whole frame: the header, then a body that carries `index` and never holds the
// byte 0x0B, 0x77 or 0xFF, so no sync pattern appears inside it.
Bytes ac3_frame(const Ac3Header& header, std::uint32_t index);
// `count` frames, frame i built from header_of(i).
Bytes ac3_frames(std::size_t count, const std::function<Ac3Header(std::size_t)>& header_of);
Bytes ac3_frames(std::size_t count, const Ac3Header& header);
// Whether frame i of a 44.1 kHz stream is long, as an encoder that keeps the bitrate
// exact decides it: when the exact count of 16-bit words reaches a new whole word.
bool ac3_long_at_44k(std::size_t i, unsigned bitrate_kbps);

// Bytes without any sync pattern of either format.
Bytes junk(std::size_t count, std::uint32_t seed = 0);

void append(Bytes& to, const Bytes& bytes);

// Splits a stream of back-to-back frames by their headers' lengths; the frame lengths
// come from `length_of`, which gets the bytes at the frame's start and how many remain.
std::vector<Bytes> split_frames(const Bytes& stream,
                                const std::function<std::size_t(const std::uint8_t*, std::size_t)>& length_of);
std::vector<Bytes> split_ac3_frames(const Bytes& stream);

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
