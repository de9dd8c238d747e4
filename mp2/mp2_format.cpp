#include "mp2/mp2_format.h"

#include <array>
#include <cinttypes>
#include <cmath>
#include <cstdlib>

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

int bitrate_of(const std::uint8_t* h) { return layer2_bitrate_kbps[id_bit(h)][bitrate_index(h)]; }
double rate_of(const std::uint8_t* h) { return layer2_sample_rate_khz[id_bit(h)][sampling_frequency(h)]; }

bool layer2_long_frame(const std::uint8_t* bytes, std::size_t n) {
    return n > 2 && padding_bit(bytes);
}

void report_padded_frames(const FrameAlignmentRule& rule, std::uint64_t padded_frames) {
    if (rule.enabled) std::printf("%" PRIu64 " original frames are padded.\n", padded_frames);
}

void check_estimate(const LengthEstimate& estimate, StreamFormat& format) {
    check_frame_regularity(estimate.frames_exact, estimate.frame_count, format);
}

}  // namespace

bool layer2_sync_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset) {
    return offset + 1 < n && bytes[offset] == 0xFF && (bytes[offset + 1] & 0xF0) == 0xF0;
}

std::uint32_t layer2_frame_bytes(const std::uint8_t* h) {
    const int bitrate = bitrate_of(h);
    const double rate = rate_of(h);
    if (bitrate == 0 || rate == 0.0) return 0;
    return static_cast<std::uint32_t>(bytes_per_kbps_khz * bitrate / rate) + padding_bit(h);
}

std::uint32_t layer2_frame_length_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset) {
    if (offset + 2 >= n) return 0;
    return layer2_frame_bytes(bytes + offset);
}

const FrameSyntax layer2_frame_syntax = {layer2_sync_at, layer2_frame_length_at, layer2_long_frame};

StreamFormat layer2_stream_format(const std::uint8_t* h, std::uint32_t offset) {
    StreamFormat format;
    format.first_frame_offset = offset;
    format.frame_bytes = layer2_frame_bytes(h);
    format.sample_rate_khz = rate_of(h);
    format.frame_seconds = (samples_per_frame / format.sample_rate_khz) / 1000.0;
    format.bitrate_kbps = bitrate_of(h);
    format.padded = static_cast<int>(padding_bit(h));
    // Encoders pad some frames where the sampling frequency does not divide the
    // bitrate evenly: 44.1 and 22.05 kHz, sampling_frequency 0 under either ID.
    format.length_varies = sampling_frequency(h) == 0;
    format.mean_frame_bytes = format.length_varies
                                  ? bytes_per_kbps_khz * format.bitrate_kbps / format.sample_rate_khz
                                  : static_cast<double>(format.frame_bytes);
    return format;
}

std::string layer2_description(const std::uint8_t* h) {
    return text_printf("Audio type is MPEG-%u, Layer %u, %s%s%s\n", 2 - id_bit(h), 4 - layer_field(h),
                       channel_texts[mode(h)], protection_bit(h) ? "without CRC, " : "with CRC, ",
                       padding_bit(h) ? "and with padding." : "and without padding.");
}

StreamFormat probe_layer2_stream(std::FILE* input, const std::string& input_path,
                                 ProbeBuffer& probe_buffer) {
    const std::int64_t first = probe_first_frame(input, probe_buffer, layer2_frame_syntax);
    if (first < 0) {
        fail_with_path("File %s does not look like a MP2 audio file.\n", input_path);
    }
    const std::uint8_t* header = probe_buffer.data() + first;
    std::fputs(layer2_description(header).c_str(), stdout);
    if (layer_field(header) != 2) {
        std::puts("Only Layer 2 audio is supported.");
        std::exit(1);
    }
    const StreamFormat format = layer2_stream_format(header, static_cast<std::uint32_t>(first));
    std::fputs(frame_line(format).c_str(), stdout);
    return format;
}

std::int64_t layer2_trailing_junk(const ProbeBuffer& window, const StreamFormat& format) {
    return count_trailing_junk(window, layer2_frame_syntax, format.frame_bytes, format.padded != 0, 1);
}

void check_frame_regularity(double frames_exact, std::uint64_t frame_count, StreamFormat& format) {
    if (std::fabs(frames_exact - static_cast<double>(frame_count)) > 0.005) {
        std::puts("Frame irregularities detected, may be in padding.");
        format.padding_irregular = true;
    }
}

FrameAlignmentRule layer2_alignment_rule(const StreamFormat& format) {
    FrameAlignmentRule rule;
    rule.enabled = format.padding_irregular || format.length_varies;
    rule.read_length = format.frame_bytes - (rule.enabled ? static_cast<std::uint32_t>(format.padded) : 0);
    rule.extra_bytes = 1;
    rule.syntax = &layer2_frame_syntax;
    rule.report_realignments = report_padded_frames;
    return rule;
}

const FormatTool mp2_tool = {"mp2", probe_layer2_stream, layer2_trailing_junk, check_estimate,
                             layer2_alignment_rule};

}  // namespace lenfit
