#include "dts/dts_format.h"

#include <array>

#include "common/text.h"

namespace lenfit {

namespace {

// Sampling frequencies by SFREQ, kHz; 0 marks the invalid codes.
constexpr std::array<double, 16> sample_rate_by_sfreq = {0.0, 8.0,  16.0, 32.0, 0.0,  0.0,  11.025, 22.05,
                                                         44.1, 0.0, 0.0,  12.0, 24.0, 48.0, 0.0,    0.0};

struct DtsChannelMode {
    const char* channels;  // full-band channels
    const char* name;
};
// Channel arrangements by AMODE; 16 and above are user-defined.
constexpr std::array<DtsChannelMode, 16> channel_modes = {{{"1", "A"},
                                                           {"2", "A+B"},
                                                           {"2", "L+R"},
                                                           {"2", "(L+R)+(L-R)"},
                                                           {"2", "Lt+Rt"},
                                                           {"3", "C+L+R"},
                                                           {"3", "L+R+S"},
                                                           {"4", "C+L+R+S"},
                                                           {"4", "L+R+SL+SR"},
                                                           {"5", "C+L+R+SL+SR"},
                                                           {"6", "CL+CR+L+R+SL+SR"},
                                                           {"6", "C+L+R+LR+RR+OV"},
                                                           {"6", "CF+CR+LF+RF+LR+RR"},
                                                           {"7", "CL+C+CR+L+R+SL+SR"},
                                                           {"8", "CL+CR+L+R+SL1+SL2+SR1+SR2"},
                                                           {"8", "CL+C+CR+L+R+SL+S+SR"}}};
constexpr DtsChannelMode user_defined_mode = {"user-defined", "user-defined"};

constexpr std::uint32_t core_sync = 0x7FFE8001u;
constexpr std::uint32_t substream_sync = 0x64582025u;
// The core header up to LFF (bit 87), which the walk's checks read.
constexpr std::size_t core_checked_bytes = 11;
// Extension substream header up to nuExtSSFsize: 67 bits, or 75 with the longer fields.
constexpr std::size_t substream_short_header_bytes = 9;
constexpr std::size_t substream_long_header_bytes = 10;
constexpr unsigned shortest_fsize = 95;
constexpr unsigned fewest_nblks = 5;
constexpr unsigned invalid_lff = 3;
constexpr unsigned samples_per_block = 32;
// A unit is a core frame and at most one frame of each of the four extension substreams.
constexpr unsigned max_unit_frames = 5;
// The longest core frame (FSIZE 16383), extension frames up to 64 KiB in all (more than
// the highest DTS-HD bitrate puts beside one core frame), and the next header.
constexpr std::size_t dts_window_bytes = 16384 + 65536 + 16;
// The probe reads enough to find a unit that long past the usual leading bytes.
constexpr std::size_t dts_probe_bytes = probe_buffer_size + 2 * dts_window_bytes;

std::uint32_t word_at(const std::uint8_t* b) {
    return static_cast<std::uint32_t>(b[0]) << 24 | static_cast<std::uint32_t>(b[1]) << 16 |
           static_cast<std::uint32_t>(b[2]) << 8 | b[3];
}

std::uint32_t core_frame_length(const std::uint8_t* h) {
    if (dts_fsize(h) < shortest_fsize || dts_nblks(h) < fewest_nblks || dts_sample_rate_khz(dts_sfreq(h)) == 0.0 ||
        dts_lff(h) == invalid_lff) {
        return 0;
    }
    return dts_fsize(h) + 1;
}

// bHeaderSizeType picks 8 and 16 bits, or 12 and 20, for the header and frame sizes.
std::uint32_t substream_frame_length(const std::uint8_t* h, std::size_t n) {
    const bool long_fields = dts_field(h, 42, 1) != 0;
    if (n < (long_fields ? substream_long_header_bytes : substream_short_header_bytes)) return 0;
    const unsigned header_bytes = dts_field(h, 43, long_fields ? 12 : 8) + 1;
    const std::uint32_t length = dts_field(h, long_fields ? 55 : 51, long_fields ? 20 : 16) + 1;
    return header_bytes <= length ? length : 0;
}

// Units of one stream share the sampling frequency and the block count; an extension
// substream frame carries neither and goes with the core frame before it.
std::uint32_t dts_stream_key(const std::uint8_t* h) {
    if (word_at(h) == substream_sync) return any_stream_key;
    return dts_sfreq(h) | dts_nblks(h) << 4;
}

bool dts_continues_unit(const std::uint8_t* h) { return word_at(h) == substream_sync; }

// Every DTS frame length is the one its header gives.
bool dts_no_long_frames(const std::uint8_t*) { return false; }

const DtsChannelMode& channel_mode(const std::uint8_t* h) {
    return dts_amode(h) < channel_modes.size() ? channel_modes[dts_amode(h)] : user_defined_mode;
}

bool fields_equal(const std::uint8_t* h, const std::uint8_t* other, unsigned first, unsigned count) {
    return dts_field(h, first, count) == dts_field(other, first, count);
}

// The 16-bit big-endian sync words of the forms dtslenfit does not read: 14-bit words
// big-endian, 16-bit little-endian, 14-bit little-endian.
constexpr std::array<std::uint32_t, 3> unread_syncs = {0x1FFFE800u, 0xFE7F0180u, 0xFF1F00E8u};

}  // namespace

unsigned dts_field(const std::uint8_t* h, unsigned first, unsigned count) {
    unsigned value = 0;
    for (unsigned bit = first; bit < first + count; ++bit) value = value << 1 | ((h[bit / 8] >> (7 - bit % 8)) & 1u);
    return value;
}

bool dts_core_sync_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset) {
    return offset + 4 <= n && word_at(bytes + offset) == core_sync;
}

bool dts_substream_sync_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset) {
    return offset + 4 <= n && word_at(bytes + offset) == substream_sync;
}

std::uint32_t dts_frame_length_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset) {
    if (dts_substream_sync_at(bytes, n, offset)) return substream_frame_length(bytes + offset, n - offset);
    if (!dts_core_sync_at(bytes, n, offset) || n - offset < core_checked_bytes) return 0;
    return core_frame_length(bytes + offset);
}

double dts_sample_rate_khz(unsigned sfreq) { return sample_rate_by_sfreq[sfreq & 15u]; }

unsigned dts_frame_samples(const std::uint8_t* h) { return (dts_nblks(h) + 1) * samples_per_block; }

std::int32_t dts_unit_bitrate(const std::uint8_t* unit, std::size_t length) {
    return bitrate_over(length, dts_frame_samples(unit) / dts_sample_rate_khz(dts_sfreq(unit)));
}

bool dts_same_shape(const std::uint8_t* h, const std::uint8_t* other) {
    // FTYPE to HDCD but AUXF, then ASPF to HFLAG, then the 16 bits after HCRC.
    const unsigned after_crc = dts_cpf(h) ? 104 : 88;
    return fields_equal(h, other, 32, 46) && fields_equal(h, other, 79, 1) && fields_equal(h, other, 84, 4) &&
           fields_equal(h, other, after_crc, 16);
}

const FrameSyntax dts_frame_syntax = {
    .window_bytes = dts_window_bytes,
    .sync_byte = 0x7F,
    // A unit holds the extension frames after its core frame: the next core frame
    // confirms it.
    .sync_at = dts_core_sync_at,
    .frame_length_at = dts_frame_length_at,
    .stream_key = dts_stream_key,
    .unit_check = nullptr,
    .takes_unconfirmed_units = false,
    .bitrate_kbps = dts_unit_bitrate,
    .is_long_frame = dts_no_long_frames,
    .continues_unit = dts_continues_unit,
    .max_unit_frames = max_unit_frames,
    .same_shape = dts_same_shape,
    .silent_unit = dts_silent_unit,
};

StreamFormat dts_stream_format(const std::uint8_t* unit, std::size_t n, std::uint32_t offset) {
    return first_unit_format(unit, n, offset, dts_frame_syntax, dts_frame_samples(unit),
                             dts_sample_rate_khz(dts_sfreq(unit)));
}

std::string dts_description(const std::uint8_t* unit, const StreamFormat& format) {
    const DtsChannelMode& mode = channel_mode(unit);
    const bool lfe = &mode != &user_defined_mode && (dts_lff(unit) == 1 || dts_lff(unit) == 2);
    const bool substream = format.first_unit_bytes > dts_fsize(unit) + 1;
    return text_printf("Audio type is DTS, %s%s channel(s) mode %s%s.\n", mode.channels, lfe ? ".1" : "", mode.name,
                       substream ? ", with an extension substream" : "");
}

bool dts_unread_form(const std::uint8_t* bytes, std::size_t n) {
    for (std::size_t at = 0; at + 4 <= n; ++at) {
        const std::uint32_t word = word_at(bytes + at);
        if (word == substream_sync) return true;
        for (std::uint32_t sync : unread_syncs) {
            if (word == sync) return true;
        }
    }
    return false;
}

const FormatTool dts_tool = {
    .format_tag = "dts",
    .not_this_format = "File %s does not look like a DTS audio file.\n",
    .refusal = "File %s holds DTS that dtslenfit does not read (14-bit words, little-endian order, or no core).\n",
    .syntax = &dts_frame_syntax,
    .probe_bytes = dts_probe_bytes,
    .tag_bytes = nullptr,
    .stream_format = dts_stream_format,
    .describe = dts_description,
    .refuses = nullptr,
    .refuses_unfound = dts_unread_form,
    .irregular_long_frames = nullptr,
    .long_frames_count = nullptr,
};

}  // namespace lenfit
