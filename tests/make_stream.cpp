// Writes a synthetic stream for demonstrations and benchmarks:
//   make_stream ac3 RATE_KHZ BITRATE_KBPS SECONDS OUTFILE [LEADING_JUNK [TRAILING_JUNK]]
// At 44.1 kHz frames of both lengths are mixed as an encoder mixes them.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "stream_builder.h"

namespace {

int usage() {
    std::puts("usage: make_stream ac3 RATE_KHZ BITRATE_KBPS SECONDS OUTFILE [LEADING [TRAILING]]");
    return 2;
}

bool ac3_codes(double rate_khz, unsigned bitrate, testkit::Ac3Header& header) {
    static const unsigned bitrates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                          192, 224, 256, 320, 384, 448, 512, 576, 640};
    header.fscod = rate_khz == 48 ? 0 : rate_khz == 44.1 ? 1 : rate_khz == 32 ? 2 : 3;
    for (unsigned i = 0; i < 19; ++i) {
        if (bitrates[i] == bitrate) header.frmsizecod = 2 * i;
    }
    return header.fscod != 3 && bitrates[header.frmsizecod >> 1] == bitrate;
}

bool write(std::FILE* file, const testkit::Bytes& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6 || std::strcmp(argv[1], "ac3") != 0) return usage();
    const double rate = std::atof(argv[2]);
    const unsigned bitrate = static_cast<unsigned>(std::atoi(argv[3]));
    const double seconds = std::atof(argv[4]);
    const std::size_t leading = argc > 6 ? std::strtoul(argv[6], nullptr, 10) : 0;
    const std::size_t trailing = argc > 7 ? std::strtoul(argv[7], nullptr, 10) : 0;
    testkit::Ac3Header header;
    if (!ac3_codes(rate, bitrate, header) || seconds <= 0) return usage();

    std::FILE* out = std::fopen(argv[5], "wb");
    if (out == nullptr) {
        std::printf("cannot create %s\n", argv[5]);
        return 1;
    }
    const auto frames = static_cast<std::size_t>(seconds / (1536 / rate / 1000));
    bool ok = write(out, testkit::junk(leading, 1));
    const unsigned even_code = header.frmsizecod;
    for (std::size_t i = 0; i < frames && ok; ++i) {
        header.frmsizecod = even_code + (header.fscod == 1 && testkit::ac3_long_at_44k(i, bitrate));
        ok = write(out, testkit::ac3_frame(header, static_cast<std::uint32_t>(i)));
    }
    ok = ok && write(out, testkit::junk(trailing, 2));
    if (std::fclose(out) != 0 || !ok) {
        std::printf("cannot write %s\n", argv[5]);
        return 1;
    }
    return 0;
}
