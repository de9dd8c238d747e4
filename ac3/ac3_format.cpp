#include "ac3/ac3_format.h"

#include <array>

#include "common/text.h"

namespace lenfit {

namespace {

// Bit rates by frmsizecod >> 1 (ATSC A/52, Table 5.18).
constexpr std::array<int, 19> ac3_bitrate_kbps = {32,  40,  48,  56,  64,  80,  96,
                                                  112, 128, 160, 192, 224, 256, 320,
                                                  384, 448, 512, 576, 640};
// Sampling rates by fscod (ATSC A/52, Table 5.6); code 3 is reserved.
constexpr std::array<double, 4> ac3_sample_rate_khz = {48.0, 44.1, 32.0, 0.0};

struct Ac3ChannelMode {
    const char* name;
    int full_bandwidth_channels;
    int lfeon_bit;  // where lfeon lies in byte 6, after the mix levels acmod brings
};
// Audio coding modes by acmod (ATSC A/52, Table 5.8).
constexpr std::array<Ac3ChannelMode, 8> ac3_channel_modes = {{{"1+1", 2, 4},
                                                              {"1/0", 1, 4},
                                                              {"2/0", 2, 2},
                                                              {"3/0", 3, 2},
                                                              {"2/1", 3, 2},
                                                              {"3/1", 4, 0},
                                                              {"2/2", 4, 2},
                                                              {"3/2", 5, 0}}};

constexpr unsigned samples_per_block = 256;
constexpr unsigned ac3_blocks_per_frame = 6;
constexpr unsigned samples_per_ac3_frame = samples_per_block * ac3_blocks_per_frame;
// Audio blocks per E-AC-3 frame by numblkscod (ATSC A/52, Annex E).
constexpr std::array<unsigned, 4> eac3_blocks_per_frame = {1, 2, 3, 6};
constexpr std::uint32_t extra_word_bytes = 2;
// bsid values of the AC-3 syntax; E-AC-3 (11 to 16) measures its frames by frmsiz.
constexpr unsigned highest_ac3_bsid = 10;
constexpr unsigned highest_eac3_bsid = 16;
// The header up to bsid, which every frame holds.
constexpr std::uint32_t header_bytes = 6;
// frmsiz counts 16-bit words less one in 11 bits: at most 4096 bytes, more than the
// longest AC-3 frame (640 kbit/s at 32 kHz, 3840 bytes).
constexpr std::uint32_t longest_frame_bytes = 4096;
// Substreams a unit may hold; 7.1 takes two frames, a longer chain is taken for damage.
constexpr unsigned max_unit_frames = 8;
// The longest unit and the next frame's header up to bsid.
constexpr std::size_t ac3_window_bytes = max_unit_frames * longest_frame_bytes + header_bytes + 2;

// CRC-16 with the generator x^16 + x^15 + x^2 + 1, most significant bit first (ATSC
// A/52, section 7.10.1). Entry [k][v]: the register after the byte v followed by k zero
// bytes, from 0, so that eight bytes are taken at a time.
constexpr std::size_t crc16_step_bytes = 8;
constexpr std::array<std::array<std::uint16_t, 256>, crc16_step_bytes> crc16_tables = [] {
    std::array<std::array<std::uint16_t, 256>, crc16_step_bytes> tables{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned crc = byte << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000u) ? (crc << 1) ^ 0x8005u : crc << 1;
        tables[0][byte] = static_cast<std::uint16_t>(crc);
    }
    for (unsigned k = 1; k < crc16_step_bytes; ++k) {
        for (unsigned byte = 0; byte < 256; ++byte) {
            const unsigned crc = tables[k - 1][byte];
            tables[k][byte] = static_cast<std::uint16_t>((crc << 8) ^ tables[0][crc >> 8]);
        }
    }
    return tables;
}();

// Undoing a zero byte: the low byte of its table entry tells which high byte the
// register had, as every byte value has an entry of its own low byte.
constexpr std::array<std::uint8_t, 256> crc16_entry_of_low_byte = [] {
    std::array<std::uint8_t, 256> owners{};
    for (unsigned byte = 0; byte < 256; ++byte) owners[crc16_tables[0][byte] & 0xFFu] = static_cast<std::uint8_t>(byte);
    return owners;
}();
static_assert([] {
    for (unsigned byte = 0; byte < 256; ++byte) {
        if (crc16_entry_of_low_byte[crc16_tables[0][byte] & 0xFFu] != byte) return false;
    }
    return true;
}());

constexpr bool header_is_measurable(std::uint8_t byte4) {
    return (byte4 >> 6) != 3 && (byte4 & 0x3Fu) >> 1 < ac3_bitrate_kbps.size();
}

// Frame length from header byte 4: words = bitrate x 1536 / rate / 16, the fraction
// dropped (at 44.1 kHz), plus the extra word of an odd frmsizecod at 44.1 kHz.
constexpr std::uint32_t frame_bytes_of(std::uint8_t byte4) {
    if (!header_is_measurable(byte4)) return 0;
    const double bitrate = ac3_bitrate_kbps[(byte4 & 0x3Fu) >> 1];
    const double rate = ac3_sample_rate_khz[byte4 >> 6];
    const auto words = static_cast<std::uint32_t>(bitrate * samples_per_ac3_frame / rate * 0.0625);
    return 2 * words + (ac3_carries_extra_word(byte4) ? extra_word_bytes : 0);
}

// Every header's length worked out once, as the walk measures every frame.
constexpr std::array<std::uint16_t, 256> frame_bytes_by_byte4 = [] {
    std::array<std::uint16_t, 256> table{};
    for (unsigned byte4 = 0; byte4 < 256; ++byte4) {
        table[byte4] = static_cast<std::uint16_t>(frame_bytes_of(static_cast<std::uint8_t>(byte4)));
    }
    return table;
}();

bool main_service(const std::uint8_t* h) {
    return bsmod(h) <= 1 || (bsmod(h) == 7 && acmod(h) >= 2);
}


bool ac3_long_frame(const std::uint8_t* h) { return !is_eac3(h) && ac3_carries_extra_word(h[4]); }

// Units of one stream share the sampling rate and the playing time.
std::uint32_t ac3_stream_key(const std::uint8_t* h) { return fscod(h) | ac3_frame_blocks(h) << 2; }

// A unit of one AC-3 frame has its coded bitrate; any other unit the bitrate its bytes
// make over its playing time, to the nearest kbit/s.
std::int32_t ac3_unit_bitrate(const std::uint8_t* unit, std::size_t length) {
    if (!is_eac3(unit) && length == ac3_frame_bytes(unit[4])) return ac3_bitrate_kbps[frmsizecod(unit) >> 1];
    return bitrate_over(length, samples_per_block * ac3_frame_blocks(unit) / ac3_sample_rate_khz[fscod(unit)]);
}

}  // namespace

bool ac3_sync_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset) {
    return offset + 1 < n && bytes[offset] == 0x0B && bytes[offset + 1] == 0x77;
}

std::uint32_t ac3_frame_bytes(std::uint8_t byte4) { return frame_bytes_by_byte4[byte4]; }

bool is_eac3(const std::uint8_t* h) { return bsid(h) > highest_ac3_bsid; }

unsigned ac3_full_bandwidth_channels(unsigned acmod) {
    return static_cast<unsigned>(ac3_channel_modes[acmod].full_bandwidth_channels);
}

bool ac3_lfe_on(const std::uint8_t* h) { return (h[6] >> ac3_channel_modes[acmod(h)].lfeon_bit) & 1u; }

std::uint32_t ac3_frame_length_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset) {
    if (!ac3_sync_at(bytes, n, offset) || offset + 5 >= n) return 0;
    const std::uint8_t* h = bytes + offset;
    if (!is_eac3(h)) return ac3_frame_bytes(h[4]);
    // fscod 3 is the reduced-rate syntax, strmtyp 3 reserved.
    if (bsid(h) > highest_eac3_bsid || strmtyp(h) == 3 || fscod(h) == 3) return 0;
    const std::uint32_t length = 2 * (frmsiz(h) + 1);
    return length < header_bytes ? 0 : length;
}

unsigned ac3_frame_blocks(const std::uint8_t* h) {
    return is_eac3(h) ? eac3_blocks_per_frame[numblkscod(h)] : ac3_blocks_per_frame;
}

bool ac3_continues_unit(const std::uint8_t* h) {
    return is_eac3(h) && (strmtyp(h) == 1 || substreamid(h) != 0);
}

// A fuzzing build traces every comparison for its coverage; the loops over every byte
// of every frame checked are left untraced, as they hold no branch worth its feedback.
#if defined(__clang__)
#define LENFIT_UNTRACED __attribute__((no_sanitize("coverage")))
#else
#define LENFIT_UNTRACED
#endif

LENFIT_UNTRACED std::uint16_t ac3_crc16(const std::uint8_t* bytes, std::size_t n, std::uint16_t crc) {
    const auto& t = crc16_tables;
    // Eight bytes at a time: the register is linear in the bytes, and the register's
    // 16 bits act as if they were added to the first two.
    const std::uint8_t* end = bytes + n;
    for (const std::uint8_t* last = bytes + n / 8 * 8; bytes != last; bytes += 8) {
        const unsigned first = crc ^ (static_cast<unsigned>(bytes[0]) << 8 | bytes[1]);
        crc = static_cast<std::uint16_t>(t[7][first >> 8] ^ t[6][first & 0xFFu] ^ t[5][bytes[2]] ^ t[4][bytes[3]] ^
                                         t[3][bytes[4]] ^ t[2][bytes[5]] ^ t[1][bytes[6]] ^ t[0][bytes[7]]);
    }
    for (; bytes != end; ++bytes) crc = static_cast<std::uint16_t>((crc << 8) ^ t[0][((crc >> 8) ^ *bytes) & 0xFFu]);
    return crc;
}

std::uint16_t ac3_crc16_before_zero_bytes(std::uint16_t crc, std::size_t count) {
    for (; count > 0; --count) {
        const unsigned high = crc16_entry_of_low_byte[crc & 0xFFu];
        crc = static_cast<std::uint16_t>(high << 8 | ((crc ^ crc16_tables[0][high]) >> 8));
    }
    return crc;
}

bool ac3_frame_passes_crc(const std::uint8_t* frame, std::size_t length) {
    // crc1 and crc2 are chosen so that the CRC over everything after the sync word
    // comes out 0.
    return length > 2 && ac3_crc16(frame + 2, length - 2) == 0;
}

bool ac3_unit_passes_crc(const std::uint8_t* unit, std::size_t length) {
    for (std::size_t at = 0; at < length;) {
        const std::uint32_t frame = ac3_frame_length_at(unit, length, at);
        if (frame == 0 || frame > length - at || !ac3_frame_passes_crc(unit + at, frame)) return false;
        at += frame;
    }
    return length > 0;
}

bool ac3_same_shape(const std::uint8_t* h, const std::uint8_t* other) {
    if (is_eac3(h) != is_eac3(other)) return false;
    // E-AC-3: strmtyp, substreamid and frmsiz; fscod, numblkscod, acmod and lfeon.
    if (is_eac3(h)) return h[2] == other[2] && h[3] == other[3] && h[4] == other[4];
    // AC-3: fscod and frmsizecod; bsmod; acmod and lfeon, wherever acmod puts it.
    return h[4] == other[4] && bsmod(h) == bsmod(other) && acmod(h) == acmod(other) &&
           ac3_lfe_on(h) == ac3_lfe_on(other);
}

const FrameSyntax ac3_frame_syntax = {
    .window_bytes = ac3_window_bytes,
    .sync_byte = 0x0B,
    .sync_at = ac3_sync_at,
    .frame_length_at = ac3_frame_length_at,
    .stream_key = ac3_stream_key,
    .unit_check = ac3_unit_passes_crc,
    .takes_unconfirmed_units = false,
    .bitrate_kbps = ac3_unit_bitrate,
    .is_long_frame = ac3_long_frame,
    .continues_unit = ac3_continues_unit,
    .max_unit_frames = max_unit_frames,
    .same_shape = ac3_same_shape,
    .silent_unit = ac3_silent_unit,
};

StreamFormat ac3_stream_format(const std::uint8_t* unit, std::size_t n, std::uint32_t offset) {
    StreamFormat format = first_unit_format(unit, n, offset, ac3_frame_syntax,
                                            samples_per_block * ac3_frame_blocks(unit), ac3_sample_rate_khz[fscod(unit)]);
    // At 44.1 kHz encoders mix odd and even frmsizecod.
    format.length_varies = fscod(unit) == 1;
    return format;
}

namespace {

// Number of frames in a whole unit of `length` bytes.
unsigned ac3_unit_frames(const std::uint8_t* unit, std::size_t length) {
    unsigned frames = 0;
    for (std::size_t at = 0; at < length; ++frames) {
        const std::uint32_t frame = ac3_frame_length_at(unit, length, at);
        if (frame == 0) break;
        at += frame;
    }
    return frames;
}

}  // namespace

std::string ac3_description(const std::uint8_t* unit, const StreamFormat& format) {
    const unsigned more = ac3_unit_frames(unit, format.first_unit_bytes) - 1;
    const std::string substreams = more > 0 ? text_printf(", with %u more substream(s)", more) : "";
    if (is_eac3(unit)) {
        const Ac3ChannelMode& mode = ac3_channel_modes[eac3_acmod(unit)];
        return text_printf("Audio type is E-AC-3, version %u, %d%s channel(s) mode %s%s.\n", bsid(unit),
                           mode.full_bandwidth_channels, eac3_lfeon(unit) ? ".1" : "", mode.name,
                           substreams.c_str());
    }
    const Ac3ChannelMode& mode = ac3_channel_modes[acmod(unit)];
    return text_printf("Audio type is AC-3, version %u, %s%d%s channel(s) mode %s%s.\n", bsid(unit),
                       main_service(unit) ? "main audio service, " : "associated service, ",
                       mode.full_bandwidth_channels, ac3_lfe_on(unit) ? ".1" : "", mode.name,
                       substreams.c_str());
}

const FormatTool ac3_tool = {
    .format_tag = "ac3",
    .not_this_format = "File %s does not look like an AC-3 audio file.\n",
    .refusal = nullptr,
    .syntax = &ac3_frame_syntax,
    .probe_bytes = probe_buffer_size,
    .tag_bytes = nullptr,
    .stream_format = ac3_stream_format,
    .describe = ac3_description,
    .refuses = nullptr,
    .refuses_unfound = nullptr,
    .irregular_long_frames = nullptr,
    .long_frames_count = nullptr,
};

}  // namespace lenfit
