// Sync fixes: -d puts silent units in front or leaves the first units out, -r fits the
// stream to a change of frame rate. Both tools as a user runs them, and the silent
// units' shapes, frame by frame.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <utility>
#include <vector>

#include "ac3/ac3_format.h"
#include "mp2/mp2_format.h"
#include "stream_builder.h"
#include "tool_runner.h"

namespace {

using testkit::Ac3Header;
using testkit::Bytes;
using testkit::RunResult;

const char* const description_48k =
    "Audio type is AC-3, version 8, main audio service, 5.1 channel(s) mode 3/2.\n"
    "Each frame is 1792 bytes, sampling freq is 48 kHz, and bitrate is 448 kbps.\n"
    "Found 100 leading and 50 trailing junk bytes.\n"
    "Original length of audio is 12.8 seconds, or 00:00:12.800, in 400 frames\n";

// 400 frames of 448 kbit/s at 48 kHz, 32 ms each, between junk.
Bytes stream_file() {
    Bytes file = testkit::junk(100, 1);
    testkit::append(file, testkit::ac3_frames(400, Ac3Header{}));
    testkit::append(file, testkit::junk(50, 2));
    return file;
}

std::vector<Bytes> units_of(const Bytes& stream) { return testkit::split_ac3_units(stream); }

class SyncFix : public ::testing::Test, protected testkit::ToolTest {
protected:
    SyncFix() : ToolTest(AC3LENFIT_PATH) { testkit::write_file(in, stream_file()); }
    // The units a run with these arguments writes.
    std::vector<Bytes> written_units(const std::vector<std::string>& arguments) {
        std::vector<std::string> with_output = arguments;
        with_output.insert(with_output.end(), {"-o", out, in});
        EXPECT_EQ(run(with_output).status, 0);
        return units_of(testkit::read_file(out));
    }
};

TEST_F(SyncFix, ADelayPrintsItsSilentUnitsLastAndWritesThemInFront) {
    const RunResult estimate = run({"-d", "100ms", in});
    EXPECT_EQ(estimate.status, 0);
    EXPECT_EQ(estimate.out, std::string(description_48k) +
                                "Delay of 100 ms is 3 silent frame(s) at the start, or 96 ms.\n");
    EXPECT_FALSE(testkit::file_exists(out));

    const RunResult fitted = run({"-d", "100", "-t", "11.52", "-o", out, in});
    EXPECT_EQ(fitted.status, 0);
    EXPECT_EQ(fitted.out, std::string(description_48k) +
                              "Approximately 40 frames need to be dropped.\n"
                              "Delay of 100 ms is 3 silent frame(s) at the start, or 96 ms.\n"
                              "Removed 40 frames, actual length now is 00:00:11.616 in 363 frames.\n");
    const std::vector<Bytes> delayed = units_of(testkit::read_file(out));
    const std::vector<Bytes> plain = written_units({"-t", "11.52"});
    ASSERT_EQ(delayed.size(), plain.size() + 3);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), delayed.begin() + 3));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(delayed[i], delayed[0]);
        ASSERT_EQ(delayed[i].size(), 1792u);
        EXPECT_EQ(testkit::ac3_crc(delayed[i].data() + 2, delayed[i].size() - 2), 0u);
    }
}

TEST_F(SyncFix, AnAdvanceLeavesOutTheFirstUnitsWrittenCountingRepeatsTwice) {
    // 25 % longer: every fourth unit from the fifth on is written twice, so the first
    // six written are units 1 to 5 and unit 5 again.
    const std::vector<Bytes> plain = written_units({"-t", "16"});
    ASSERT_EQ(plain[4], plain[5]);
    const RunResult result = run({"-t", "16", "-d", "-180", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string(description_48k) +
                              "Approximately 99 frames need to be inserted.\n"
                              "Advance of 180 ms is 6 frame(s) left out at the start, or 192 ms.\n"
                              "Inserted 99 frames, actual length now is 00:00:15.776 in 493 frames.\n");
    const std::vector<Bytes> advanced = units_of(testkit::read_file(out));
    EXPECT_EQ(advanced, std::vector<Bytes>(plain.begin() + 6, plain.end()));

    // More than the pass writes: nothing is left to write, and that is no failure.
    const RunResult all = run({"-t", "0.1", "-d", "-60000", "-o", out, in});
    EXPECT_EQ(all.status, 0);
    EXPECT_NE(all.out.find("Advance of 60000 ms is 1875 frame(s) left out at the start, or 60000 ms.\n"
                           "Removed 396 frames, actual length now is 00:00:00.000 in 0 frames.\n"),
              std::string::npos)
        << all.out;
    EXPECT_TRUE(testkit::read_file(out).empty());
}

TEST_F(SyncFix, HalfAUnitRoundsUpLessIsNoChangeAndZeroSaysNothing) {
    EXPECT_NE(run({"-d", "16", in}).out.find("Delay of 16 ms is 1 silent frame(s) at the start, or 32 ms.\n"),
              std::string::npos);
    EXPECT_NE(run({"-d", "47.9", in}).out.find("Delay of 47.9 ms is 1 silent frame(s) at the start, or 32 ms.\n"),
              std::string::npos);
    const RunResult small = run({"-d", "-15.9", "-o", out, in});
    EXPECT_EQ(small.out, std::string(description_48k) +
                             "Delay of -15.9 ms is less than half a frame; the start stays as it is.\n"
                             "Inserted 0 frames, actual length now is 00:00:12.800 in 400 frames.\n");
    const Bytes unchanged = testkit::read_file(out);
    const RunResult zero = run({"-d", "0", "-o", out, in});
    EXPECT_EQ(zero.out, std::string(description_48k) +
                            "Inserted 0 frames, actual length now is 00:00:12.800 in 400 frames.\n");
    EXPECT_EQ(testkit::read_file(out), unchanged);
}

TEST_F(SyncFix, ARateChangeFitsToTheLengthScaledByTheRates) {
    // PAL speed-up of film: 12.8 x 24000/1001 / 25.
    const RunResult result = run({"-r", "23.976:25", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string(description_48k) +
                              "Target length is 12.2757 seconds, or 00:00:12.276.\n"
                              "Approximately 16 frames need to be dropped.\n"
                              "Removed 16 frames, actual length now is 00:00:12.288 in 384 frames.\n");
    const Bytes by_rate = testkit::read_file(out);
    EXPECT_EQ(written_units({"-t", "12.275724275724276"}), units_of(by_rate));
    // The same rates as a fraction, and the way back.
    EXPECT_EQ(run({"-r", "24000/1001:25", in}).out, run({"-r", "23.976:25", in}).out);
    EXPECT_NE(run({"-r", "25:23.976", in}).out.find("Target length is 13.3467 seconds, or 00:00:13.347.\n"
                                                   "Approximately 17 frames need to be inserted.\n"),
              std::string::npos);
}

TEST(SyncFixLayer2, DamageAndPaddedFramesKeepCountingInputFrames) {
    // 44.1 kHz, frames padded as an encoder pads them, 300 bytes lost before frame 101.
    const testkit::Mp2Header at44 = testkit::mp2_header(1, 0, 8);
    Bytes file = testkit::mp2_frames(100, [&](std::size_t i) { return testkit::mp2_header(1, 0, 8, testkit::mp2_padded_at(i, at44)); });
    testkit::append(file, testkit::junk(300, 4));
    testkit::append(file, testkit::mp2_frames(100, [&](std::size_t i) { return testkit::mp2_header(1, 0, 8, testkit::mp2_padded_at(i + 100, at44)); }));
    testkit::ToolFiles files;
    testkit::write_file(files.in, file);
    const RunResult plain = testkit::run_checked(MP2LENFIT_PATH, {"-o", files.out, files.in});
    const RunResult delayed = testkit::run_checked(MP2LENFIT_PATH, {"-d", "100", "-o", files.out, files.in});
    ASSERT_EQ(delayed.status, 0);
    // The same lines but for the delay line, and four more frames written.
    const auto tail = [](const std::string& out) { return out.substr(out.find("Error in frame")); };
    EXPECT_EQ(tail(plain.out), "Error in frame 101 detected.\n"
                               "191 original frames are padded.\n"
                               "Inserted 0 frames, actual length now is 00:00:05.224 in 200 frames.\n");
    EXPECT_EQ(tail(delayed.out), "Error in frame 101 detected.\n"
                                 "191 original frames are padded.\n"
                                 "Inserted 0 frames, actual length now is 00:00:05.329 in 204 frames.\n");
}

// The frames of a unit, split by their own lengths.
std::vector<Bytes> frames_of(const Bytes& unit) { return testkit::split_ac3_frames(unit); }

TEST(SilentUnits, SurroundUnitsKeepEveryFramesShapeAndPassBothCrcs) {
    for (const bool ac3_core : {true, false}) {
        for (const unsigned dependents : {1u, 2u}) {
            const Bytes unit = testkit::surround_unit(ac3_core, dependents, 0);
            Bytes silent;
            ASSERT_TRUE(lenfit::ac3_silent_unit(unit.data(), unit.size(), silent));
            const std::vector<Bytes> frames = frames_of(unit);
            const std::vector<Bytes> silent_frames = frames_of(silent);
            ASSERT_EQ(silent_frames.size(), frames.size());
            for (std::size_t i = 0; i < frames.size(); ++i) {
                const Bytes& f = frames[i];
                const Bytes& s = silent_frames[i];
                ASSERT_EQ(s.size(), f.size());
                EXPECT_EQ(testkit::ac3_crc(s.data() + 2, s.size() - 2), 0u);
                if (lenfit::is_eac3(f.data())) {
                    // strmtyp, substreamid, frmsiz, fscod, numblkscod, acmod, lfeon; bsid 16.
                    EXPECT_TRUE(std::equal(f.begin() + 2, f.begin() + 5, s.begin() + 2));
                    EXPECT_EQ(lenfit::bsid(s.data()), 16u);
                } else {
                    EXPECT_EQ(s[4], f[4]);  // fscod, frmsizecod
                    EXPECT_EQ(lenfit::bsid(s.data()), 8u);
                    EXPECT_EQ(lenfit::acmod(s.data()), lenfit::acmod(f.data()));
                    EXPECT_EQ(lenfit::ac3_lfe_on(s.data()), lenfit::ac3_lfe_on(f.data()));
                    const std::size_t five_eighths = ((s.size() >> 2) + (s.size() >> 4)) << 1;
                    EXPECT_EQ(testkit::ac3_crc(s.data() + 2, five_eighths - 2), 0u);
                }
            }
        }
    }
}

TEST(SilentUnits, Layer2KeepsTheHeaderAndProtectsTheZeroAllocations) {
    // 48 kHz stereo at 192 kbit/s uses allocation table B.2a: 2 x 88 allocation bits.
    testkit::Mp2Header header = testkit::mp2_header(1, 1, 10, 1);
    header.protection_bit = 0;
    const Bytes frame = testkit::mp2_frame(header, 0);
    Bytes silent;
    ASSERT_TRUE(lenfit::layer2_silent_unit(frame.data(), frame.size(), silent));
    ASSERT_EQ(silent.size(), frame.size());
    EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + 4, silent.begin()));
    EXPECT_TRUE(std::all_of(silent.begin() + 6, silent.end(), [](std::uint8_t b) { return b == 0; }));
    // The CRC, bit by bit, over bytes 2 and 3 and 176 zero bits, from all ones.
    unsigned crc = 0xFFFF;
    for (unsigned i = 0; i < 16 + 176; ++i) {
        const unsigned bit = i < 16 ? (frame[2 + i / 8] >> (7 - i % 8)) & 1u : 0u;
        crc = ((crc << 1) & 0xFFFFu) ^ ((((crc >> 15) & 1u) ^ bit) ? 0x8005u : 0u);
    }
    EXPECT_EQ(silent[4] << 8 | silent[5], static_cast<int>(crc));
    // Without protection there is no CRC: everything after the header is 0.
    const Bytes open = testkit::mp2_frame(testkit::mp2_header(1, 1, 10), 0);
    ASSERT_TRUE(lenfit::layer2_silent_unit(open.data(), open.size(), silent));
    EXPECT_TRUE(std::all_of(silent.begin() + 4, silent.end(), [](std::uint8_t b) { return b == 0; }));
}

// Every channel mode ffmpeg's encoders make, with and without LFE, in AC-3 and E-AC-3,
// decoded with silence in front.
class ChannelModes : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(ChannelModes, SilentUnitsDecodeToZerosThenTheStreamUnchanged) {
    if (!testkit::have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const auto [encoder, layout] = GetParam();
    testkit::TempDir dir;
    const std::string in = dir.path(std::string("in.") + encoder);
    const std::string command = std::string("ffmpeg -nostdin -v error -y -f lavfi -i "
                                            "sine=frequency=300:sample_rate=48000:duration=0.5 -af aformat=") +
                                "channel_layouts='" + layout + "' -c:a " + encoder + " -b:a 192k -f " + encoder +
                                " '" + in + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    testkit::expect_silent_units_decode_to_zeros(AC3LENFIT_PATH, in, 0.032);
}

// acmod 1/0, 2/0 with LFE, 3/0, 2/1, 3/1 with LFE, 2/2, 3/2 without LFE.
INSTANTIATE_TEST_SUITE_P(
    Encoded, ChannelModes,
    ::testing::Values(std::pair{"ac3", "mono"}, std::pair{"ac3", "2.1"}, std::pair{"ac3", "3.0"},
                      std::pair{"ac3", "3.0(back)"}, std::pair{"ac3", "4.1"}, std::pair{"ac3", "quad"},
                      std::pair{"ac3", "5.0"}, std::pair{"eac3", "mono"}, std::pair{"eac3", "2.1"},
                      std::pair{"eac3", "3.0"}, std::pair{"eac3", "3.0(back)"}, std::pair{"eac3", "4.1"},
                      std::pair{"eac3", "quad"}, std::pair{"eac3", "5.0"}),
    [](const auto& info) {
        std::string name = std::string(info.param.first) + "_" + info.param.second;
        for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST(SilentUnits, FramesTooShortForSilenceAreRefused) {
    // 5.1 E-AC-3 frames of 32 bytes cannot hold the exponents of six channels.
    testkit::Eac3Header tiny;
    tiny.frame_bytes = 32;
    Bytes stream;
    for (std::uint32_t i = 0; i < 400; ++i) testkit::append(stream, testkit::eac3_frame(tiny, i));
    Bytes silent;
    EXPECT_FALSE(lenfit::ac3_silent_unit(stream.data(), 32, silent));
    testkit::ToolFiles files;
    testkit::write_file(files.in, stream);
    const RunResult result = testkit::run_checked(AC3LENFIT_PATH, {"-d", "100", "-o", files.out, files.in});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("Delay of 100 ms is 3 silent frame(s) at the start, or 96 ms.\n"
                              "Silent frames of this stream's shape cannot be made.\n"),
              std::string::npos)
        << result.out;
    // An advance needs no silence.
    EXPECT_EQ(testkit::run_checked(AC3LENFIT_PATH, {"-d", "-100", "-o", files.out, files.in}).status, 0);

    // Nor can damage be filled: with -o the run ends after the estimate's lines, before
    // any unit is written; without it the counts are printed.
    Bytes damaged = stream;
    damaged[100 * 32 + 20] ^= 0x01;
    testkit::write_file(files.in, damaged);
    const char* const damage_line = "Found 32 damaged bytes in 1 place(s); 1 silent frame(s) take their place.\n";
    const RunResult counted = testkit::run_checked(AC3LENFIT_PATH, {"-k", files.in});
    EXPECT_EQ(counted.status, 0);
    EXPECT_NE(counted.out.find(damage_line), std::string::npos) << counted.out;
    const RunResult refused = testkit::run_checked(AC3LENFIT_PATH, {"-k", "-o", files.out, files.in});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, counted.out + "Silent frames of this stream's shape cannot be made.\n");
    EXPECT_TRUE(testkit::read_file(files.out).empty());
}

TEST(SilentUnits, DualMonoAndEveryBlockCountHaveTheirFramesShape) {
    // acmod 0 (1+1) codes two programs' dialnorm and dynamic range; E-AC-3 frames of 1,
    // 2 and 3 blocks have no converter exponent strategies and one convsync bit.
    Ac3Header dual;
    dual.acmod = 0;
    dual.byte6_low = 0;
    std::vector<Bytes> units = {testkit::ac3_frame(dual, 0)};
    for (unsigned code = 0; code < 4; ++code) {
        testkit::Eac3Header header;
        header.numblkscod = code;
        header.acmod = code;  // 1+1, 1/0, 2/0, 3/0
        units.push_back(testkit::eac3_frame(header, 0));
    }
    for (const Bytes& unit : units) {
        Bytes silent;
        ASSERT_TRUE(lenfit::ac3_silent_unit(unit.data(), unit.size(), silent));
        ASSERT_EQ(silent.size(), unit.size());
        EXPECT_EQ(testkit::ac3_crc(silent.data() + 2, silent.size() - 2), 0u);
        EXPECT_EQ(lenfit::ac3_frame_length_at(silent.data(), silent.size(), 0), unit.size());
    }
}

}  // namespace
