// Writes a synthetic stream for demonstrations and benchmarks:
//   make_stream ac3|mp2|dts|dtshd RATE_KHZ BITRATE_KBPS SECONDS OUTFILE [LEADING_JUNK [TRAILING_JUNK]]
// At 44.1 kHz (and 22.05 kHz for mp2) frames of both lengths are mixed as an encoder
// mixes them to keep the bitrate exact. DTS frames are 5.1 core frames of 512 samples,
// as long as the bitrate makes them; DTS-HD units are 768 kbit/s core frames, each with
// an extension substream frame of the rest of the bitrate.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "stream_builder.h"

namespace {

int usage() {
    std::puts("usage: make_stream ac3|mp2|dts|dtshd RATE_KHZ BITRATE_KBPS SECONDS OUTFILE [LEADING [TRAILING]]");
    return 2;
}

bool ac3_codes(double rate_khz, unsigned bitrate, testkit::Ac3Header& header) {
    header.fscod = rate_khz == 48 ? 0 : rate_khz == 44.1 ? 1 : rate_khz == 32 ? 2 : 3;
    for (header.frmsizecod = 0; header.frmsizecod < 38 && header.fscod != 3; header.frmsizecod += 2) {
        if (testkit::ac3_bitrate_kbps(header) == bitrate) return true;
    }
    return false;
}

bool mp2_codes(double rate_khz, unsigned bitrate, testkit::Mp2Header& header) {
    for (unsigned id = 0; id < 2; ++id) {
        for (unsigned sampling = 0; sampling < 3; ++sampling) {
            for (unsigned index = 1; index < 15; ++index) {
                header = testkit::Mp2Header{};
                header.id = id;
                header.sampling_frequency = sampling;
                header.bitrate_index = index;
                if (testkit::mp2_rate_hz(header) == static_cast<unsigned>(rate_khz * 1000 + 0.5) &&
                    testkit::mp2_bitrate_kbps(header) == bitrate) {
                    return true;
                }
            }
        }
    }
    return false;
}

bool dts_codes(double rate_khz, unsigned bitrate, testkit::DtsHeader& header) {
    for (header.sfreq = 0; header.sfreq < 16; ++header.sfreq) {
        if (testkit::dts_rate_hz(header.sfreq) != rate_khz * 1000) continue;
        const double bytes = bitrate * 1000.0 * (header.nblks + 1) * 32 / (rate_khz * 1000) / 8;
        header.fsize = static_cast<unsigned>(bytes) - 1;
        return bytes >= 96 && bytes <= 16384;
    }
    return false;
}

bool write(std::FILE* file, const testkit::Bytes& bytes) {
    return std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) return usage();
    const std::string format = argv[1];
    const bool ac3 = format == "ac3";
    const bool hd = format == "dtshd";
    const bool dts = format == "dts" || hd;
    if (!ac3 && !dts && format != "mp2") return usage();
    const double rate = std::atof(argv[2]);
    const unsigned bitrate = static_cast<unsigned>(std::atoi(argv[3]));
    const double seconds = std::atof(argv[4]);
    const std::size_t leading = argc > 6 ? std::strtoul(argv[6], nullptr, 10) : 0;
    const std::size_t trailing = argc > 7 ? std::strtoul(argv[7], nullptr, 10) : 0;
    testkit::Ac3Header ac3_header;
    testkit::Mp2Header mp2_header;
    testkit::DtsHeader dts_header;
    const bool codes = ac3   ? ac3_codes(rate, bitrate, ac3_header)
                       : dts ? dts_codes(rate, hd ? 768 : bitrate, dts_header)
                             : mp2_codes(rate, bitrate, mp2_header);
    // A DTS unit of 512 samples holds bitrate x 512 / rate bits.
    const std::size_t unit_bytes =
        dts ? std::size_t{bitrate} * 1000 * (dts_header.nblks + 1) * 32 / static_cast<std::size_t>(rate * 1000) / 8 : 0;
    if (seconds <= 0 || !codes || (hd && unit_bytes < dts_header.fsize + 1 + 64)) return usage();

    std::FILE* out = std::fopen(argv[5], "wb");
    if (out == nullptr) {
        std::printf("cannot create %s\n", argv[5]);
        return 1;
    }
    const double frame_seconds = (ac3 ? 1536 : dts ? 512 : 1152) / rate / 1000;
    const auto frames = static_cast<std::size_t>(seconds / frame_seconds);
    bool ok = write(out, testkit::junk(leading, 1));
    for (std::size_t i = 0; i < frames && ok; ++i) {
        const auto index = static_cast<std::uint32_t>(i);
        if (hd) {
            ok = write(out, testkit::dts_hd_unit(dts_header, {unit_bytes - dts_header.fsize - 1}, index));
        } else if (dts) {
            ok = write(out, testkit::dts_core_frame(dts_header, index));
        } else if (ac3) {
            testkit::Ac3Header header = ac3_header;
            header.frmsizecod += header.fscod == 1 && testkit::ac3_long_at_44k(i, bitrate);
            ok = write(out, testkit::ac3_frame(header, index));
        } else {
            testkit::Mp2Header header = mp2_header;
            header.padding = testkit::mp2_padded_at(i, header);
            ok = write(out, testkit::mp2_frame(header, index));
        }
    }
    ok = ok && write(out, testkit::junk(trailing, 2));
    if (std::fclose(out) != 0 || !ok) {
        std::printf("cannot write %s\n", argv[5]);
        return 1;
    }
    return 0;
}
