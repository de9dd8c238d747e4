// mp2lenfit run as a user runs it: standard output, exit status and output bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "mp2/mp2_format.h"
#include "stream_builder.h"
#include "tool_runner.h"

namespace {

using testkit::Bytes;
using testkit::Mp2Header;
using testkit::RunResult;

const std::string tool = MP2LENFIT_PATH;

using testkit::mp2_header;

// 44.1 kHz, 128 kbit/s frames: 417 bytes, 418 when padded.
Mp2Header at44k(unsigned padding) { return mp2_header(1, 0, 8, padding); }

class Mp2Tool : public ::testing::Test, protected testkit::ToolTest {
protected:
    Mp2Tool() : ToolTest(tool) {}
};

TEST_F(Mp2Tool, DescribesMeasuresAndScalesA48kStream) {
    Bytes file = testkit::junk(300, 1);
    testkit::append(file, testkit::mp2_frames(1000, mp2_header(1, 1, 10)));  // 24 seconds
    testkit::append(file, testkit::junk(50, 2));
    testkit::write_file(in, file);
    const RunResult result = run({"-t", "23", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "Audio type is MPEG-1, Layer 2, stereo, without CRC, and without padding.\n"
              "Each frame is 576 bytes, sampling freq is 48 kHz, and bitrate is 192 kbps.\n"
              "Found 300 leading and 50 trailing junk bytes.\n"
              "Original length of audio is 24 seconds, or 00:00:24.000, in 1000 frames\n"
              "Approximately 41 frames need to be dropped.\n"
              "Removed 41 frames, actual length now is 00:00:23.016 in 959 frames.\n");
    const Bytes stream(file.begin() + 300, file.end() - 50);
    const auto changes = testkit::compare_frames(testkit::split_mp2_frames(stream),
                                                 testkit::split_mp2_frames(testkit::read_file(out)));
    ASSERT_TRUE(changes.whole) << changes.problem;
    EXPECT_EQ(changes.dropped.size(), 41u);
    EXPECT_EQ(changes.dropped.front(), 25u);
}

TEST_F(Mp2Tool, EstimateOnlyAndTheUsageText) {
    testkit::write_file(in, testkit::mp2_frames(100, mp2_header(1, 2, 14, 1)));  // 32 kHz, 1729 bytes
    const RunResult result = run({in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "Audio type is MPEG-1, Layer 2, stereo, without CRC, and with padding.\n"
              "Each frame is 1729 bytes, sampling freq is 32 kHz, and bitrate is 384 kbps.\n"
              "Found 0 leading and 0 trailing junk bytes.\n"
              "Original length of audio is 3.6 seconds, or 00:00:03.600, in 100 frames\n");

    const RunResult usage = run({});
    EXPECT_EQ(usage.status, 1);
    EXPECT_EQ(usage.out.substr(0, usage.out.find('\n', usage.out.find('\n') + 1) + 1),
              "Usage: mp2lenfit [-t targetsec | -r from:to] [-d delayms] [-k] [-e editlist] [-o outfile] infile\n"
              "mp2lenfit: Scale mp2 audio to given number of seconds with duplicated or dropped frames.\n");
}

TEST_F(Mp2Tool, OnlyLayerTwoIsSupported) {
    for (unsigned layer : {1u, 3u, 0u}) {
        Mp2Header header = mp2_header(1, 1, 1);  // 32 kbit/s: the same entry for every layer
        header.layer = layer;
        testkit::write_file(in, testkit::mp2_frames(200, header));
        const RunResult result = run({"-o", out, in});
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, "Audio type is MPEG-1, Layer " + std::to_string(4 - layer) +
                                  ", stereo, without CRC, and without padding.\n"
                                  "Only Layer 2 audio is supported.\n");
        EXPECT_TRUE(testkit::read_file(out).empty());
    }
}

TEST_F(Mp2Tool, FreeFormatAndJunkAreNotMp2) {
    testkit::write_file(in, testkit::mp2_frames(200, mp2_header(1, 1, 0)));
    const RunResult result = run({in});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "File " + in + " does not look like a MP2 audio file.\n");
    testkit::write_file(in, testkit::junk(30000));
    EXPECT_EQ(run({in}).out, "File " + in + " does not look like a MP2 audio file.\n");
}

TEST_F(Mp2Tool, LowerSamplingFrequenciesAreMeasuredRight) {
    Mp2Header header = mp2_header(0, 1, 8);  // 24 kHz, 64 kbit/s
    header.mode = 3;
    header.protection_bit = 0;
    testkit::write_file(in, testkit::mp2_frames(250, header));  // 12 seconds
    const RunResult result = run({in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "Audio type is MPEG-2, Layer 2, mono, with CRC, and without padding.\n"
              "Each frame is 384 bytes, sampling freq is 24 kHz, and bitrate is 64 kbps.\n"
              "Found 0 leading and 0 trailing junk bytes.\n"
              "Original length of audio is 12 seconds, or 00:00:12.000, in 250 frames\n");
}

TEST_F(Mp2Tool, EncoderPaddingAt44kIsCountedExactlyAndCopiedWhole) {
    // 1000 frames, 959 of them padded (the last one too): 417959 bytes.
    const Bytes file = testkit::mp2_frames(1000, [](std::size_t i) { return at44k(testkit::mp2_padded_at(i, at44k(0))); });
    ASSERT_EQ(file.size(), 417959u);
    testkit::write_file(in, file);
    const RunResult result = run({"-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "Audio type is MPEG-1, Layer 2, stereo, without CRC, and without padding.\n"
              "Each frame is 417 bytes, sampling freq is 44.1 kHz, and bitrate is 128 kbps.\n"
              "Found 0 leading and 0 trailing junk bytes.\n"
              "Original length of audio is 26.1224 seconds, or 00:00:26.122, in 1000 frames\n"
              "Frame irregularities detected, may be in padding.\n"
              "959 original frames are padded.\n"
              "Inserted 0 frames, actual length now is 00:00:26.122 in 1000 frames.\n");
    EXPECT_EQ(testkit::read_file(out), file);
}

TEST_F(Mp2Tool, UnpaddedFramesAt44kAreRegularAndCountNoPadding) {
    const Bytes file = testkit::mp2_frames(1000, at44k(0));
    testkit::write_file(in, file);
    const RunResult result = run({"-t", "25", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("in 1000 frames\n"
                              "Approximately 42 frames need to be dropped.\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("\n0 original frames are padded.\nRemoved "), std::string::npos) << result.out;
    const auto changes = testkit::compare_frames(testkit::split_mp2_frames(file),
                                                 testkit::split_mp2_frames(testkit::read_file(out)));
    ASSERT_TRUE(changes.whole) << changes.problem;
}

TEST_F(Mp2Tool, PaddingAt48kIsIrregularAndCounted) {
    // 48 kHz frames of 576 bytes, one in ten padded: no whole number of frames.
    const Bytes file = testkit::mp2_frames(500, [](std::size_t i) { return mp2_header(1, 1, 10, i % 10 == 4); });
    testkit::write_file(in, file);
    const RunResult result = run({"-t", "13", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("Frame irregularities detected, may be in padding.\n"), std::string::npos);
    const auto changes = testkit::compare_frames(testkit::split_mp2_frames(file),
                                                 testkit::split_mp2_frames(testkit::read_file(out)));
    ASSERT_TRUE(changes.whole) << changes.problem;
    // Frames 5, 15, 25, ... are padded; the count is of the input's frames.
    const auto is_padded = [](std::size_t number) { return number % 10 == 5; };
    const std::size_t padded_taken =
        50 - std::count_if(changes.dropped.begin(), changes.dropped.end(), is_padded);
    EXPECT_NE(result.out.find("\n50 original frames are padded.\n"), std::string::npos) << result.out;
    std::size_t padded_written = 0;
    for (const auto& frame : testkit::split_mp2_frames(testkit::read_file(out))) {
        padded_written += frame.size() == 577;
    }
    EXPECT_EQ(padded_written, padded_taken + std::count_if(changes.duplicated.begin(),
                                                           changes.duplicated.end(), is_padded));
}

TEST_F(Mp2Tool, APaddedFirstFrameIsCounted) {
    const Bytes file = testkit::mp2_frames(40, [](std::size_t i) { return at44k(i % 4 == 0); });
    testkit::write_file(in, file);
    const RunResult result = run({"-o", out, in});
    EXPECT_NE(result.out.find("Each frame is 418 bytes"), std::string::npos);
    EXPECT_NE(result.out.find("\n10 original frames are padded.\n"), std::string::npos) << result.out;
    EXPECT_EQ(testkit::read_file(out), file);
}

TEST_F(Mp2Tool, ChangedFramesAreWholeAndInOrder) {
    const Bytes stream = testkit::mp2_frames(900, [](std::size_t i) { return at44k(testkit::mp2_padded_at(i, at44k(0))); });
    Bytes file = testkit::junk(123, 5);
    testkit::append(file, stream);
    testkit::append(file, testkit::junk(4321, 6));
    testkit::write_file(in, file);
    const auto input_frames = testkit::split_mp2_frames(stream);
    const double seconds = 900 * (1152 / 44.1 / 1000);
    for (double factor : {0.97, 1.03, 0.8, 1.4, 1.0}) {
        const RunResult result = run({"-t", std::to_string(seconds * factor), "-o", out, in});
        ASSERT_EQ(result.status, 0);
        const Bytes written = testkit::read_file(out);
        const auto changes = testkit::compare_frames(input_frames, testkit::split_mp2_frames(written));
        ASSERT_TRUE(changes.whole) << factor << ": " << changes.problem;
        const std::size_t changed = changes.duplicated.size() + changes.dropped.size();
        EXPECT_NEAR(static_cast<double>(changes.frames_written), 900 * factor, 1.0) << factor;
        EXPECT_NE(result.out.find(std::string(" ") + std::to_string(changed) + " frames, actual length now is "),
                  std::string::npos)
            << factor << "\n" << result.out;
        EXPECT_NE(result.out.find(" in " + std::to_string(changes.frames_written) + " frames.\n"),
                  std::string::npos);
    }
}

TEST_F(Mp2Tool, ManySmallFramesChangedOftenAreWrittenWholeAcrossBlocks) {
    // 48-byte frames (8 kbit/s at 24 kHz) over 5 MiB: a change every few frames makes
    // thousands of spans in each block the tool reads.
    const std::size_t count = 5 * 1024 * 1024 / 48;
    const Bytes stream = testkit::mp2_frames(count, mp2_header(0, 1, 1));
    testkit::write_file(in, stream);
    const auto input_frames = testkit::split_mp2_frames(stream);
    const double seconds = static_cast<double>(count) * (1152 / 24.0 / 1000);
    for (double factor : {0.6, 1.4}) {
        const RunResult result = run({"-t", std::to_string(seconds * factor), "-o", out, in});
        ASSERT_EQ(result.status, 0);
        const auto changes = testkit::compare_frames(input_frames, testkit::split_mp2_frames(testkit::read_file(out)));
        ASSERT_TRUE(changes.whole) << factor << ": " << changes.problem;
        EXPECT_NEAR(static_cast<double>(changes.frames_written), static_cast<double>(count) * factor, 1.0) << factor;
        EXPECT_NE(result.out.find(" in " + std::to_string(changes.frames_written) + " frames.\n"), std::string::npos);
    }
}

TEST_F(Mp2Tool, ADamagedFrameIsReportedAndLeftOut) {
    const Bytes stream = testkit::mp2_frames(40, at44k(0));
    Bytes file = stream;
    file[417 * 6] = 0x30;  // frame 7's sync
    testkit::write_file(in, file);
    const RunResult result = run({"-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("Found 417 damaged bytes in 1 place(s); they are left out.\n"), std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("Error in frame 7 detected.\n0 original frames are padded.\n"), std::string::npos)
        << result.out;
    Bytes expected(stream.begin(), stream.begin() + 417 * 6);
    expected.insert(expected.end(), stream.begin() + 417 * 7, stream.end());
    EXPECT_EQ(testkit::read_file(out), expected);
}

// With -k a silent frame takes the damaged frame's place, padded as the frame before
// it is; the padded count stays that of the frames taken.
TEST_F(Mp2Tool, KeptDamageCountsOnlyTakenFramesAsPadded) {
    std::vector<Bytes> frames;
    for (std::uint32_t i = 0; i < 40; ++i) frames.push_back(testkit::mp2_frame(at44k(i == 5 ? 1 : 0), i));
    frames[6][0] = 0x30;  // frame 7's sync
    Bytes file;
    for (const Bytes& frame : frames) testkit::append(file, frame);
    testkit::write_file(in, file);
    const RunResult result = run({"-k", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("Found 417 damaged bytes in 1 place(s); 1 silent frame(s) take their place.\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(result.out.find("Error in frame 7 detected.\n1 original frames are padded.\n"), std::string::npos)
        << result.out;
    Bytes silent;
    ASSERT_TRUE(lenfit::layer2_silent_unit(frames[5].data(), frames[5].size(), silent));
    EXPECT_EQ(silent.size(), 418u);
    Bytes expected;
    for (std::size_t i = 0; i < 40; ++i) testkit::append(expected, i == 6 ? silent : frames[i]);
    EXPECT_EQ(testkit::read_file(out), expected);
}

// Real MP3s, as ffmpeg encodes them. Most Layer III streams are not recognised at all;
// one whose frames measure as Layer II frames too (MPEG-1 at 32 kbit/s) is described and
// refused.
TEST_F(Mp2Tool, RealMp3FilesAreRefused) {
    if (!testkit::have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const auto encode = [this](const char* bitrate) {
        const std::string command =
            std::string("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=44100:duration=3 "
                        "-c:a libmp3lame -write_xing 0 -b:a ") +
            bitrate + " -f mp3 '" + in + "'";
        return std::system(command.c_str()) == 0;
    };
    ASSERT_TRUE(encode("128k"));
    RunResult result = run({in});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "File " + in + " does not look like a MP2 audio file.\n");
    ASSERT_TRUE(encode("32k"));
    result = run({in});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out,
              "Audio type is MPEG-1, Layer 3, mono, without CRC, and without padding.\n"
              "Only Layer 2 audio is supported.\n");
}

}  // namespace
