// The tests' row for each format: how its fixtures are named, how its streams split
// into units, how long a unit plays, and which tool reads it.
#include <array>

#include "ac3/ac3_format.h"
#include "dts/dts_format.h"
#include "mp2/mp2_format.h"
#include "stream_builder.h"

namespace testkit {

namespace {

// An AC-3 frame plays 1536 samples; an E-AC-3 frame (bsid above 10) numblkscod's 1,
// 2, 3 or 6 blocks of 256.
double ac3_unit_seconds(const Bytes& unit) {
    const double samples =
        (unit[5] >> 3) > 10 ? 256.0 * std::array<int, 4>{1, 2, 3, 6}[(unit[4] >> 4) & 3u] : 1536.0;
    return samples / (unit[4] >> 6 == 0 ? 48000 : unit[4] >> 6 == 1 ? 44100 : 32000);
}

double mp2_unit_seconds(const Bytes& unit) {
    const unsigned rates[] = {44100, 48000, 32000};
    const double rate = rates[(unit[2] >> 2) & 3u] / ((unit[1] >> 3) & 1u ? 1.0 : 2.0);
    return 1152.0 / rate;
}

// (NBLKS + 1) blocks of 32 samples; NBLKS is bits 39 to 45, SFREQ bits 66 to 69.
double dts_unit_seconds(const Bytes& unit) {
    const unsigned nblks = (unit[4] & 1u) << 6 | unit[5] >> 2;
    const unsigned sfreq = (unit[8] >> 2) & 15u;
    return (nblks + 1) * 32.0 / dts_rate_hz(sfreq);
}

// 48 kHz streams: AC-3 5.1 at 448 kbit/s, Layer II stereo at 192 kbit/s, DTS 5.1 at
// 768 kbit/s.
Bytes ac3_sample(std::size_t frames) { return ac3_frames(frames, Ac3Header{}); }
Bytes mp2_sample(std::size_t frames) { return mp2_frames(frames, mp2_header(1, 1, 10)); }
Bytes dts_sample(std::size_t frames) { return dts_frames(frames, DtsHeader{}); }

}  // namespace

const std::vector<FormatCase>& format_cases() {
    static const std::vector<FormatCase> cases = {
        {"ac3", "ac3", 0x0B, split_ac3_units, lenfit::ac3_silent_unit, ac3_unit_seconds, true, true,
         "File %s does not look like an AC-3 audio file.\n", ac3_sample},
        {"mp2", "mp2", 0xFF, split_mp2_frames, lenfit::layer2_silent_unit, mp2_unit_seconds, false, true,
         "File %s does not look like a MP2 audio file.\n", mp2_sample},
        {"dts", "dts", 0x7F, split_dts_units, lenfit::dts_silent_unit, dts_unit_seconds, false, false,
         "File %s does not look like a DTS audio file.\n", dts_sample},
    };
    return cases;
}

const FormatCase& format_of(const std::string& name) {
    for (const FormatCase& format : format_cases()) {
        if (name.rfind(format.name_prefix, 0) == 0) return format;
    }
    return format_cases().front();  // "eac3..." and every other name: ac3lenfit
}

std::string tool_name(const FormatCase& format) { return std::string(format.tag) + "lenfit"; }

void PrintTo(const FormatCase& format, std::ostream* out) { *out << tool_name(format); }

std::string tool_path(const FormatCase& format) { return std::string(TOOLS_DIR) + "/" + tool_name(format); }

}  // namespace testkit
