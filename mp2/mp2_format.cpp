#include "mp2/mp2_format.h"

#include <array>

#include "common/text.h"

namespace lenfit {

namespace {

// Layer II bit rates by bitrate_index, kbit/s: the lower sampling frequencies of
// ISO/IEC 13818-3 for ID 0, ISO/IEC 11172-3 for ID 1; index 0 is free format and 15
// is forbidden.
constexpr std::array<std::array<int, 16>, 2> layer2_bitrate_kbps = {{
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
}};
// Sampling frequencies by sampling_frequency, kHz, for ID 0 and ID 1; 3 is reserved.
constexpr std::array<std::array<double, 4>, 2> layer2_sample_rate_khz = {{
    {22.05, 24.0, 16.0, 0.0},
    {44.1, 48.0, 32.0, 0.0},
}};
constexpr double samples_per_frame = 1152.0;
// A frame holds 1152 samples at bitrate kbit/s: 144 bytes per kbit/s at 1 kHz.
constexpr double bytes_per_kbps_khz = 144.0;

constexpr std::array<const char*, 4> channel_texts = {"stereo, ", "stereo, ", "dual channel, ",
                                                      "mono, "};

double rate_of(const std::uint8_t* h) { return layer2_sample_rate_khz[id_bit(h)][sampling_frequency(h)]; }

// Frame length from the ID bit and header byte 2 (bitrate_index, sampling_frequency,
// padding_bit): 144 bytes per kbit/s at 1 kHz, the fraction dropped, plus the padding
// byte; 0 for free format, a forbidden bitrate or a reserved frequency.
constexpr std::uint32_t frame_bytes_of(unsigned id, std::uint8_t byte2) {
    const int bitrate = layer2_bitrate_kbps[id][byte2 >> 4];
    const double rate = layer2_sample_rate_khz[id][(byte2 >> 2) & 3u];
    if (bitrate == 0 || rate == 0.0) return 0;
    return static_cast<std::uint32_t>(bytes_per_kbps_khz * bitrate / rate) + ((byte2 >> 1) & 1u);
}

// Every header's length worked out once, as the walk measures every frame: indexed by
// the ID bit and the upper seven bits of byte 2.
constexpr std::array<std::uint16_t, 256> frame_bytes_by_id_and_byte2 = [] {
    std::array<std::uint16_t, 256> table{};
    for (unsigned index = 0; index < 256; ++index) {
        table[index] = static_cast<std::uint16_t>(frame_bytes_of(index >> 7, static_cast<std::uint8_t>(index << 1)));
    }
    return table;
}();

// The longest Layer II frame (384 kbit/s at 32 kHz, padded) and the next header.
constexpr std::size_t layer2_window_bytes = 1729 + 3;

bool layer2_long_frame(const std::uint8_t* h) { return padding_bit(h) != 0; }

// ID, layer and sampling_frequency: what every frame of one stream shares.
std::uint32_t layer2_stream_key(const std::uint8_t* h) { return (h[1] >> 1 & 7u) << 2 | sampling_frequency(h); }

std::int32_t layer2_unit_bitrate(const std::uint8_t* h, std::size_t) { return layer2_frame_bitrate_kbps(h); }

}  // namespace

int layer2_frame_bitrate_kbps(const std::uint8_t* h) { return layer2_bitrate_kbps[id_bit(h)][bitrate_index(h)]; }

bool layer2_sync_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset) {
    return offset + 1 < n && bytes[offset] == 0xFF && (bytes[offset + 1] & 0xF0) == 0xF0;
}

std::uint32_t layer2_frame_bytes(const std::uint8_t* h) {
    return frame_bytes_by_id_and_byte2[id_bit(h) << 7 | h[2] >> 1];
}

std::uint32_t layer2_frame_length_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset) {
    if (!layer2_sync_at(bytes, n, offset) || offset + 2 >= n) return 0;
    return layer2_frame_bytes(bytes + offset);
}

// Layer II frames carry no check over the whole frame, and each is a unit of its own.
bool layer2_same_shape(const std::uint8_t* h, const std::uint8_t* other) {
    // The four header bytes but the padding bit.
    return h[0] == other[0] && h[1] == other[1] && (h[2] | 0x02u) == (other[2] | 0x02u) && h[3] == other[3];
}

const FrameSyntax layer2_frame_syntax = {
    .window_bytes = layer2_window_bytes,
    .sync_byte = 0xFF,
    .sync_at = layer2_sync_at,
    .frame_length_at = layer2_frame_length_at,
    .stream_key = layer2_stream_key,
    .unit_check = nullptr,
    .takes_unconfirmed_units = true,
    .bitrate_kbps = layer2_unit_bitrate,
    .is_long_frame = layer2_long_frame,
    .continues_unit = nullptr,
    .max_unit_frames = 1,
    .same_shape = layer2_same_shape,
    .silent_unit = layer2_silent_unit,
};

std::uint32_t id3v2_tag_length(const std::uint8_t* bytes, std::size_t n) {
    if (n < 10 || bytes[0] != 'I' || bytes[1] != 'D' || bytes[2] != '3') return 0;
    if (bytes[3] < 2 || bytes[3] > 4) return 0;
    std::uint32_t size = 0;
    for (std::size_t i = 6; i < 10; ++i) {
        if (bytes[i] >= 0x80) return 0;
        size = size << 7 | bytes[i];
    }
    const bool footer = (bytes[5] & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

StreamFormat layer2_stream_format(const std::uint8_t* h, std::uint32_t offset) {
    StreamFormat format;
    format.first_frame_offset = offset;
    format.first_unit_bytes = layer2_frame_bytes(h);
    format.sample_rate_khz = rate_of(h);
    format.frame_seconds = (samples_per_frame / format.sample_rate_khz) / 1000.0;
    format.bitrate_kbps = layer2_frame_bitrate_kbps(h);
    format.stream_key = layer2_stream_key(h);
    // Encoders pad some frames where the sampling frequency does not divide the
    // bitrate evenly: 44.1 and 22.05 kHz, sampling_frequency 0 under either ID.
    format.length_varies = sampling_frequency(h) == 0;
    return format;
}

std::string layer2_description(const std::uint8_t* h) {
    return text_printf("Audio type is MPEG-%u, Layer %u, %s%s%s\n", 2 - id_bit(h), 4 - layer_field(h),
                       channel_texts[mode(h)], protection_bit(h) ? "without CRC, " : "with CRC, ",
                       padding_bit(h) ? "and with padding." : "and without padding.");
}

namespace {

StreamFormat layer2_first_unit_format(const std::uint8_t* unit, std::size_t, std::uint32_t offset) {
    return layer2_stream_format(unit, offset);
}

std::string layer2_first_unit_description(const std::uint8_t* unit, const StreamFormat&) {
    return layer2_description(unit);
}

// mp2lenfit describes a frame of another layer, and reads Layer II alone.
bool layer2_refuses(const std::uint8_t* h) { return layer_field(h) != 2; }

}  // namespace

const FormatTool mp2_tool = {
    .format_tag = "mp2",
    .not_this_format = "File %s does not look like a MP2 audio file.\n",
    .refusal = "Only Layer 2 audio is supported.\n",
    .syntax = &layer2_frame_syntax,
    .probe_bytes = probe_buffer_size,
    .tag_bytes = id3v2_tag_length,
    .stream_format = layer2_first_unit_format,
    .describe = layer2_first_unit_description,
    .refuses = layer2_refuses,
    .refuses_unfound = nullptr,
    .irregular_long_frames = "Frame irregularities detected, may be in padding.\n",
    .long_frames_count = "%llu original frames are padded.\n",
};

}  // namespace lenfit
