#include "stream_builder.h"

#include "common/bit_writer.h"

namespace testkit {

namespace {

constexpr unsigned bitrates_kbps[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                        192, 224, 256, 320, 384, 448, 512, 576, 640};

// A byte from an alphabet (0x20 to 0x5F) that holds no sync byte of any format.
std::uint8_t safe_byte(std::uint32_t value) { return static_cast<std::uint8_t>(0x20 + value % 0x40); }

// A frame's body from byte `from` on, with the frame's number in base 64 at `number_at`,
// so that equal frames are equal copies.
void fill_body(Bytes& frame, std::size_t from, std::size_t number_at, std::uint32_t index) {
    for (std::size_t i = from; i < frame.size(); ++i) frame[i] = safe_byte(static_cast<std::uint32_t>(i * 31 + index * 17));
    for (std::size_t digit = 0; digit < 4 && number_at + digit < frame.size(); ++digit) {
        frame[number_at + digit] = safe_byte(index >> (6 * digit));
    }
}

}  // namespace

std::uint16_t ac3_crc(const std::uint8_t* bytes, std::size_t n) {
    unsigned crc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= static_cast<unsigned>(bytes[i]) << 8;
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000u) ? ((crc << 1) ^ 0x8005u) & 0xFFFFu : (crc << 1) & 0xFFFFu;
    }
    return static_cast<std::uint16_t>(crc);
}

void set_ac3_crc(Bytes& frame) {
    // The CRC of everything after the sync word comes out 0 when crc2 holds the CRC of
    // what comes before it.
    const std::uint16_t crc = ac3_crc(frame.data() + 2, frame.size() - 4);
    frame[frame.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
    frame[frame.size() - 1] = static_cast<std::uint8_t>(crc & 0xFF);
}

unsigned ac3_bitrate_kbps(const Ac3Header& header) { return bitrates_kbps[header.frmsizecod >> 1]; }

std::size_t ac3_length(const Ac3Header& header) {
    const unsigned bitrate = ac3_bitrate_kbps(header);
    switch (header.fscod) {
        case 0: return 4u * bitrate;
        case 2: return 6u * bitrate;
        default: return 2u * (bitrate * 960u / 441u + (header.frmsizecod & 1u));
    }
}

namespace {

// The body after a header of 7 bytes, then crc2.
void fill_ac3_body(Bytes& frame, std::uint32_t index) {
    fill_body(frame, 7, 8, index);
    set_ac3_crc(frame);
}

}  // namespace

Bytes ac3_frame(const Ac3Header& header, std::uint32_t index) {
    Bytes frame(ac3_length(header));
    frame[0] = 0x0B;
    frame[1] = 0x77;
    frame[2] = safe_byte(index);  // crc1: any value, crc2 makes up for it
    frame[3] = safe_byte(index / 64);
    frame[4] = static_cast<std::uint8_t>(header.fscod << 6 | header.frmsizecod);
    frame[5] = static_cast<std::uint8_t>(header.bsid << 3 | header.bsmod);
    frame[6] = static_cast<std::uint8_t>(header.acmod << 5 | header.byte6_low);
    fill_ac3_body(frame, index);
    return frame;
}

Bytes eac3_frame(const Eac3Header& header, std::uint32_t index) {
    Bytes frame(header.frame_bytes);
    const unsigned frmsiz = header.frame_bytes / 2 - 1;
    frame[0] = 0x0B;
    frame[1] = 0x77;
    frame[2] = static_cast<std::uint8_t>(header.strmtyp << 6 | header.substreamid << 3 | frmsiz >> 8);
    frame[3] = static_cast<std::uint8_t>(frmsiz & 0xFF);
    frame[4] = static_cast<std::uint8_t>(header.fscod << 6 | header.numblkscod << 4 | header.acmod << 1 |
                                         header.lfeon);
    frame[5] = static_cast<std::uint8_t>(header.bsid << 3 | 0x04);  // dialnorm's first bits
    frame[6] = 0x40;
    fill_ac3_body(frame, index);
    return frame;
}

Eac3Header dependent_substream(unsigned frame_bytes) {
    Eac3Header header;
    header.strmtyp = 1;
    header.frame_bytes = frame_bytes;
    header.acmod = 2;  // the two back channels of 7.1
    header.lfeon = 0;
    return header;
}

Bytes ac3_frames(std::size_t count, const std::function<Ac3Header(std::size_t)>& header_of) {
    Bytes stream;
    for (std::size_t i = 0; i < count; ++i) {
        append(stream, ac3_frame(header_of(i), static_cast<std::uint32_t>(i)));
    }
    return stream;
}

Bytes ac3_frames(std::size_t count, const Ac3Header& header) {
    return ac3_frames(count, [&](std::size_t) { return header; });
}

namespace {

// Whether the whole part of (i + 1) * numerator / denominator grows by more than that of
// numerator / denominator: when an encoder keeping an exact rate adds a unit to frame i.
bool exact_rate_adds_unit(std::size_t i, std::uint64_t numerator, std::uint64_t denominator) {
    return (i + 1) * numerator / denominator - i * numerator / denominator > numerator / denominator;
}

constexpr unsigned mp2_bitrates[2][16] = {
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0}};
constexpr unsigned mp2_rates_hz[2][4] = {{22050, 24000, 16000, 0}, {44100, 48000, 32000, 0}};

}  // namespace

bool ac3_long_at_44k(std::size_t i, unsigned bitrate_kbps) {
    // Exact words per frame: bitrate * 1536 / 44.1 / 16 = bitrate * 960 / 441.
    return exact_rate_adds_unit(i, bitrate_kbps * 960u, 441);
}

Mp2Header mp2_header(unsigned id, unsigned sampling_frequency, unsigned bitrate_index,
                     unsigned padding) {
    Mp2Header header;
    header.id = id;
    header.sampling_frequency = sampling_frequency;
    header.bitrate_index = bitrate_index;
    header.padding = padding;
    return header;
}

unsigned mp2_bitrate_kbps(const Mp2Header& header) { return mp2_bitrates[header.id][header.bitrate_index]; }
unsigned mp2_rate_hz(const Mp2Header& header) { return mp2_rates_hz[header.id][header.sampling_frequency]; }

std::size_t mp2_length(const Mp2Header& header) {
    const unsigned bitrate = mp2_bitrate_kbps(header);
    const unsigned rate = mp2_rate_hz(header);
    if (bitrate == 0 || rate == 0) return 0;
    return 144000u * bitrate / rate + header.padding;
}

Bytes mp2_frame(const Mp2Header& header, std::uint32_t index) {
    Bytes frame(mp2_length(header) > 0 ? mp2_length(header) : 100);
    frame[0] = 0xFF;
    frame[1] = static_cast<std::uint8_t>(0xF0 | header.id << 3 | header.layer << 1 | header.protection_bit);
    frame[2] = static_cast<std::uint8_t>(header.bitrate_index << 4 | header.sampling_frequency << 2 |
                                         header.padding << 1);
    frame[3] = static_cast<std::uint8_t>(header.mode << 6 | 0x04);  // copyright clear, original
    fill_body(frame, 4, 8, index);
    return frame;
}

Bytes mp2_frames(std::size_t count, const std::function<Mp2Header(std::size_t)>& header_of) {
    Bytes stream;
    for (std::size_t i = 0; i < count; ++i) {
        append(stream, mp2_frame(header_of(i), static_cast<std::uint32_t>(i)));
    }
    return stream;
}

Bytes mp2_frames(std::size_t count, const Mp2Header& header) {
    return mp2_frames(count, [&](std::size_t) { return header; });
}

bool mp2_padded_at(std::size_t i, const Mp2Header& header) {
    return exact_rate_adds_unit(i, 144000u * mp2_bitrate_kbps(header), mp2_rate_hz(header));
}

Bytes junk(std::size_t count, std::uint32_t seed) {
    Bytes bytes(count);
    std::uint32_t state = seed * 2654435761u + 12345u;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = safe_byte(state >> 16);
    }
    return bytes;
}

void append(Bytes& to, const Bytes& bytes) { to.insert(to.end(), bytes.begin(), bytes.end()); }

std::vector<Bytes> split_frames(
    const Bytes& stream,
    const std::function<std::size_t(const std::uint8_t*, std::size_t)>& length_of) {
    std::vector<Bytes> frames;
    std::size_t position = 0;
    while (position < stream.size()) {
        std::size_t length = length_of(stream.data() + position, stream.size() - position);
        if (length == 0 || length > stream.size() - position) length = stream.size() - position;
        frames.emplace_back(stream.begin() + static_cast<long>(position),
                            stream.begin() + static_cast<long>(position + length));
        position += length;
    }
    return frames;
}

Bytes surround_unit(bool ac3_core, unsigned dependents, std::uint32_t i) {
    Bytes unit = ac3_core ? ac3_frame(Ac3Header{}, i) : eac3_frame(Eac3Header{}, i);
    for (unsigned d = 0; d < dependents; ++d) append(unit, eac3_frame(dependent_substream(512), i));
    return unit;
}

namespace {

// Length of an AC-3 frame (bsid up to 10) or an E-AC-3 frame (by frmsiz), or 0.
std::size_t ac3_family_length(const std::uint8_t* bytes, std::size_t n) {
    if (n < 6 || bytes[0] != 0x0B || bytes[1] != 0x77) return 0;
    if ((bytes[5] >> 3) > 10) return 2u * ((static_cast<std::size_t>(bytes[2] & 7u) << 8 | bytes[3]) + 1);
    Ac3Header header;
    header.fscod = bytes[4] >> 6;
    header.frmsizecod = bytes[4] & 0x3Fu;
    if (header.fscod == 3 || header.frmsizecod > 37) return 0;
    return ac3_length(header);
}

}  // namespace

std::vector<Bytes> split_ac3_frames(const Bytes& stream) { return split_frames(stream, ac3_family_length); }

std::vector<Bytes> split_ac3_units(const Bytes& stream) {
    std::vector<Bytes> units;
    for (const Bytes& frame : split_ac3_frames(stream)) {
        const bool eac3 = frame.size() >= 6 && (frame[5] >> 3) > 10;
        const bool carries_on = eac3 && ((frame[2] >> 6) == 1 || ((frame[2] >> 3) & 7u) != 0);
        if (carries_on && !units.empty()) {
            append(units.back(), frame);
        } else {
            units.push_back(frame);
        }
    }
    return units;
}

std::vector<Bytes> split_mp2_frames(const Bytes& stream) {
    return split_frames(stream, [](const std::uint8_t* bytes, std::size_t n) -> std::size_t {
        if (n < 3 || bytes[0] != 0xFF || (bytes[1] & 0xF0) != 0xF0) return 0;
        Mp2Header header;
        header.id = (bytes[1] >> 3) & 1u;
        header.bitrate_index = bytes[2] >> 4;
        header.sampling_frequency = (bytes[2] >> 2) & 3u;
        header.padding = (bytes[2] >> 1) & 1u;
        return mp2_length(header);
    });
}

double dts_rate_hz(unsigned sfreq) {
    const double rates[16] = {0, 8000, 16000, 32000, 0, 0, 11025, 22050, 44100, 0, 0, 12000, 24000, 48000, 0, 0};
    return rates[sfreq & 15u];
}

Bytes dts_core_frame(const DtsHeader& header, std::uint32_t index) {
    Bytes frame(header.fsize + 1, 0);
    lenfit::BitWriter w{frame};
    lenfit::put_bits(w, 0x7FFE, 16);
    lenfit::put_bits(w, 0x8001, 16);
    lenfit::put_bits(w, 1, 1);   // FTYPE: normal frame
    lenfit::put_bits(w, 31, 5);  // SHORT
    lenfit::put_bits(w, header.cpf, 1);
    lenfit::put_bits(w, header.nblks, 7);
    lenfit::put_bits(w, header.fsize, 14);
    lenfit::put_bits(w, header.amode, 6);
    lenfit::put_bits(w, header.sfreq, 4);
    lenfit::put_bits(w, header.rate, 5);
    lenfit::put_bits(w, 0, 9);  // FixedBit, DYNF, TIMEF, AUXF, HDCD, EXT_AUDIO_ID, EXT_AUDIO
    lenfit::put_bits(w, header.aspf, 1);
    lenfit::put_bits(w, header.lff, 2);
    lenfit::put_bits(w, 0, header.cpf ? 17 : 1);  // HFLAG, HCRC
    lenfit::put_bits(w, 0, 1);                    // FILTS
    lenfit::put_bits(w, 7, 4);                    // VERNUM
    lenfit::put_bits(w, 0, 2);                    // CHIST
    lenfit::put_bits(w, 6, 3);                    // PCMR: 24 bits
    lenfit::put_bits(w, 0, 6);                    // SUMF, SUMS, DIALNORM
    fill_body(frame, w.bit / 8, w.bit / 8 + 1, index);
    return frame;
}

Bytes dts_substream_frame(unsigned substream, std::size_t bytes, std::uint32_t index, bool long_fields) {
    Bytes frame(bytes, 0);
    lenfit::BitWriter w{frame};
    lenfit::put_bits(w, 0x6458, 16);
    lenfit::put_bits(w, 0x2025, 16);
    lenfit::put_bits(w, 0, 8);  // UserDefinedBits
    lenfit::put_bits(w, substream, 2);
    lenfit::put_bits(w, long_fields ? 1 : 0, 1);
    lenfit::put_bits(w, 15, long_fields ? 12 : 8);  // a header of 16 bytes
    lenfit::put_bits(w, static_cast<unsigned>(bytes - 1), long_fields ? 20 : 16);
    fill_body(frame, w.bit / 8 + 1, w.bit / 8 + 2, index);
    return frame;
}

Bytes dts_hd_unit(const DtsHeader& header, const std::vector<std::size_t>& substream_bytes, std::uint32_t index) {
    Bytes unit = dts_core_frame(header, index);
    for (std::size_t i = 0; i < substream_bytes.size(); ++i) {
        append(unit, dts_substream_frame(static_cast<unsigned>(i), substream_bytes[i], index));
    }
    return unit;
}

Bytes dts_frames(std::size_t count, const DtsHeader& header) {
    Bytes stream;
    for (std::size_t i = 0; i < count; ++i) append(stream, dts_core_frame(header, static_cast<std::uint32_t>(i)));
    return stream;
}

std::vector<Bytes> split_dts_units(const Bytes& stream) {
    const auto word = [](const std::uint8_t* b) { return std::uint32_t{b[0]} << 24 | b[1] << 16 | b[2] << 8 | b[3]; };
    const auto field = [](const std::uint8_t* b, unsigned first, unsigned count) {
        unsigned value = 0;
        for (unsigned bit = first; bit < first + count; ++bit) value = value << 1 | ((b[bit / 8] >> (7 - bit % 8)) & 1u);
        return value;
    };
    std::vector<Bytes> units;
    for (const Bytes& frame : split_frames(stream, [&](const std::uint8_t* b, std::size_t n) -> std::size_t {
             if (n >= 11 && word(b) == 0x7FFE8001u) return field(b, 46, 14) + 1;
             if (n >= 10 && word(b) == 0x64582025u) {
                 return field(b, 42, 1) ? field(b, 55, 20) + 1 : field(b, 51, 16) + 1;
             }
             return 0;
         })) {
        const bool substream = frame.size() >= 4 && word(frame.data()) == 0x64582025u;
        if (substream && !units.empty()) {
            append(units.back(), frame);
        } else {
            units.push_back(frame);
        }
    }
    return units;
}

FrameChanges compare_frames(const std::vector<Bytes>& input, const std::vector<Bytes>& output) {
    FrameChanges changes;
    changes.frames_written = output.size();
    std::size_t in = 0;
    std::size_t out = 0;
    while (out < output.size()) {
        const std::size_t start = in;
        while (in < input.size() && input[in] != output[out]) ++in;
        if (in == input.size()) {
            changes.problem = "output frame " + std::to_string(out + 1) +
                              " is no input frame after input frame " + std::to_string(start);
            return changes;
        }
        for (std::size_t skipped = start; skipped < in; ++skipped) changes.dropped.push_back(skipped + 1);
        ++out;
        if (out < output.size() && output[out] == input[in]) {
            changes.duplicated.push_back(in + 1);
            ++out;
        }
        ++in;
    }
    for (; in < input.size(); ++in) changes.dropped.push_back(in + 1);
    changes.whole = true;
    return changes;
}

}  // namespace testkit
