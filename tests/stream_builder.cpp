#include "stream_builder.h"

namespace testkit {

namespace {

constexpr unsigned bitrates_kbps[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                        192, 224, 256, 320, 384, 448, 512, 576, 640};

// A byte from an alphabet (0x20 to 0x5F) that holds no sync byte of either format.
std::uint8_t safe_byte(std::uint32_t value) { return static_cast<std::uint8_t>(0x20 + value % 0x40); }

}  // namespace

std::size_t ac3_length(const Ac3Header& header) {
    const unsigned bitrate = bitrates_kbps[header.frmsizecod >> 1];
    switch (header.fscod) {
        case 0: return 4u * bitrate;
        case 2: return 6u * bitrate;
        default: return 2u * (bitrate * 960u / 441u + (header.frmsizecod & 1u));
    }
}

Bytes ac3_frame(const Ac3Header& header, std::uint32_t index) {
    Bytes frame(ac3_length(header));
    frame[0] = 0x0B;
    frame[1] = 0x77;
    frame[2] = safe_byte(index);  // crc1: not checked by the tools
    frame[3] = safe_byte(index / 64);
    frame[4] = static_cast<std::uint8_t>(header.fscod << 6 | header.frmsizecod);
    frame[5] = static_cast<std::uint8_t>(header.bsid << 3 | header.bsmod);
    frame[6] = static_cast<std::uint8_t>(header.acmod << 5 | header.byte6_low);
    for (std::size_t i = 7; i < frame.size(); ++i) {
        frame[i] = safe_byte(static_cast<std::uint32_t>(i * 31 + index * 17));
    }
    // The frame's number, in base 64, so that equal frames are equal copies.
    for (std::size_t digit = 0; digit < 4 && 8 + digit < frame.size(); ++digit) {
        frame[8 + digit] = safe_byte(index >> (6 * digit));
    }
    return frame;
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

bool ac3_long_at_44k(std::size_t i, unsigned bitrate_kbps) {
    // Exact words per frame: bitrate * 1536 / 44.1 / 16 = bitrate * 960 / 441.
    const std::uint64_t per_frame = bitrate_kbps * 960u;
    return (i + 1) * per_frame / 441 - i * per_frame / 441 > per_frame / 441;
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

std::vector<Bytes> split_ac3_frames(const Bytes& stream) {
    return split_frames(stream, [](const std::uint8_t* bytes, std::size_t n) -> std::size_t {
        if (n < 5 || bytes[0] != 0x0B || bytes[1] != 0x77) return 0;
        Ac3Header header;
        header.fscod = bytes[4] >> 6;
        header.frmsizecod = bytes[4] & 0x3Fu;
        if (header.fscod == 3 || header.frmsizecod > 37) return 0;
        return ac3_length(header);
    });
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
