// ac3lenfit run as a user runs it: standard output, exit status and output bytes.
#include <gtest/gtest.h>
#include <algorithm>

#include "ac3/ac3_format.h"
#include "stream_builder.h"
#include "tool_runner.h"

namespace {

using testkit::Ac3Header;
using testkit::Bytes;
using testkit::RunResult;

const std::string tool = AC3LENFIT_PATH;

const char* const description_48k =
    "Audio type is AC-3, version 8, main audio service, 5.1 channel(s) mode 3/2.\n"
    "Each frame is 1792 bytes, sampling freq is 48 kHz, and bitrate is 448 kbps.\n";

const char* const usage_text =
    "Usage: ac3lenfit [-t targetsec | -r from:to] [-d delayms] [-k] [-e editlist] [-o outfile] infile\n"
    "ac3lenfit: Scale ac3 audio to given number of seconds with duplicated or dropped frames.\n"
    "          Outputs estimates for infile if -o option is not given\n"
    "          -t targetsec\tScale audio to targetsec number of seconds.\n"
    "          -o outfile\tOutputs complete frames from infile to outfile scaled to targetsec "
    "if specified.\n"
    "          -r from:to\tScale audio for a change of frame rate, from and to in frames per second.\n"
    "          -d delayms\tDelay audio by delayms milliseconds with silent frames at the start, or advance it "
    "if negative.\n"
    "          -k\t\tKeep the timeline: silent frames take the place of damaged ones.\n"
    "          -e editlist\tCut from-to or put in at+seconds of silence, e.g. 10:00-12:30,30:00+2.\n";

Ac3Header at44k(unsigned frmsizecod) {
    Ac3Header header;
    header.fscod = 1;
    header.frmsizecod = frmsizecod;
    return header;
}

// 448 kbit/s at 48 kHz, 3200 frames between 100 and 50 junk bytes: 5734550 bytes.
Bytes typical_file() {
    Bytes file = testkit::junk(100, 1);
    testkit::append(file, testkit::ac3_frames(3200, Ac3Header{}));
    testkit::append(file, testkit::junk(50, 2));
    return file;
}

Bytes stream_part(const Bytes& file, std::size_t leading, std::size_t trailing) {
    return Bytes(file.begin() + static_cast<long>(leading), file.end() - static_cast<long>(trailing));
}

class Ac3Tool : public ::testing::Test, protected testkit::ToolTest {
protected:
    Ac3Tool() : ToolTest(tool) {}
};

TEST_F(Ac3Tool, TypicalRunDropsEveryEighthOrNinthFrame) {
    const Bytes file = typical_file();
    ASSERT_EQ(file.size(), 5734550u);
    testkit::write_file(in, file);
    const RunResult result = run({"-t", "90", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string(description_48k) +
                              "Found 100 leading and 50 trailing junk bytes.\n"
                              "Original length of audio is 102.4 seconds, or 00:01:42.400, in 3200 frames\n"
                              "Approximately 387 frames need to be dropped.\n"
                              "Removed 387 frames, actual length now is 00:01:30.016 in 2813 frames.\n");
    const auto changes = testkit::compare_frames(testkit::split_ac3_frames(stream_part(file, 100, 50)),
                                                 testkit::split_ac3_frames(testkit::read_file(out)));
    ASSERT_TRUE(changes.whole) << changes.problem;
    EXPECT_TRUE(changes.duplicated.empty());
    ASSERT_EQ(changes.dropped.size(), 387u);
    EXPECT_EQ(std::vector<std::size_t>(changes.dropped.begin(), changes.dropped.begin() + 5),
              (std::vector<std::size_t>{9, 17, 25, 34, 42}));
    EXPECT_EQ(changes.frames_written, 2813u);
}

TEST_F(Ac3Tool, LongerTargetDuplicatesFrames) {
    testkit::write_file(in, typical_file());
    const RunResult result = run({"/t", "110", "/o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("Approximately 237 frames need to be inserted.\n"
                              "Inserted 237 frames, actual length now is 00:01:49.984 in 3437 frames.\n"),
              std::string::npos)
        << result.out;
    const auto changes = testkit::compare_frames(testkit::split_ac3_frames(stream_part(typical_file(), 100, 50)),
                                                 testkit::split_ac3_frames(testkit::read_file(out)));
    ASSERT_TRUE(changes.whole) << changes.problem;
    EXPECT_EQ(changes.duplicated.size(), 237u);
    EXPECT_EQ(changes.duplicated.front(), 14u);
}

TEST_F(Ac3Tool, EstimateOnlyWritesNoFile) {
    testkit::write_file(in, typical_file());
    const RunResult result = run({in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string(description_48k) +
                              "Found 100 leading and 50 trailing junk bytes.\n"
                              "Original length of audio is 102.4 seconds, or 00:01:42.400, in 3200 frames\n");
    EXPECT_FALSE(testkit::file_exists(out));

    // An empty output name is no output, and a target of 0 is no target.
    const RunResult no_output = run({"-t", "0:00", "-o", "", in});
    EXPECT_EQ(no_output.status, 0);
    EXPECT_EQ(no_output.out, result.out);
}

TEST_F(Ac3Tool, NoTargetCopiesTheStreamWithoutItsJunk) {
    const Bytes file = typical_file();
    testkit::write_file(in, file);
    const RunResult result = run({"-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("Inserted 0 frames, actual length now is 00:01:42.400 in 3200 frames.\n"),
              std::string::npos);
    EXPECT_EQ(testkit::read_file(out), stream_part(file, 100, 50));
}

TEST_F(Ac3Tool, TargetAtTheExactLengthChangesNothing) {
    Bytes file = testkit::ac3_frames(400, Ac3Header{});  // 12.8 seconds
    testkit::write_file(in, file);
    const RunResult result = run({"-t", "12.8", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_NE(result.out.find("Approximately 0 frames need to be dropped.\n"
                              "Inserted 0 frames, actual length now is 00:00:12.800 in 400 frames.\n"),
              std::string::npos)
        << result.out;
    EXPECT_EQ(testkit::read_file(out), file);
}

TEST_F(Ac3Tool, ThirtyTwoKilohertzStream) {
    Ac3Header header;
    header.fscod = 2;
    header.frmsizecod = 36;  // 640 kbit/s, 3840 bytes
    header.acmod = 2;
    header.byte6_low = 0;
    header.bsmod = 2;
    const Bytes file = testkit::ac3_frames(10, header);
    testkit::write_file(in, file);
    const RunResult result = run({"-t", "0.4", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "Audio type is AC-3, version 8, associated service, 2 channel(s) mode 2/0.\n"
              "Each frame is 3840 bytes, sampling freq is 32 kHz, and bitrate is 640 kbps.\n"
              "Found 0 leading and 0 trailing junk bytes.\n"
              "Original length of audio is 0.48 seconds, or 00:00:00.480, in 10 frames\n"
              "Approximately 1 frames need to be dropped.\n"
              "Removed 1 frames, actual length now is 00:00:00.432 in 9 frames.\n");
}

// Which command lines are bad is the parser's unit tests' matter; here, what the tool
// answers to one.
// -k: the damage line counts the silent units, the length counts them as frames, and
// each place is reported by the number of its first silent unit (of the unit after it,
// where none takes its place). A delay's silence still comes first.
TEST_F(Ac3Tool, KeepTheTimelineCountsAndNumbersTheSilentUnits) {
    std::vector<Bytes> frames;
    for (std::uint32_t i = 0; i < 20; ++i) frames.push_back(testkit::ac3_frame(Ac3Header{}, i));
    frames[5][900] ^= 0x04;  // fails its CRC
    Bytes file;
    for (std::size_t i = 0; i < 20; ++i) {
        if (i == 11) testkit::append(file, testkit::junk(40, 1));
        if (i == 16) testkit::append(file, testkit::junk(1000, 2));
        testkit::append(file, frames[i]);
    }
    testkit::write_file(in, file);
    const std::string estimate = std::string(description_48k) +
                                 "Found 0 leading and 0 trailing junk bytes.\n"
                                 "Found 2832 damaged bytes in 3 place(s); 2 silent frame(s) take their place.\n"
                                 "Original length of audio is 0.672 seconds, or 00:00:00.672, in 21 frames\n"
                                 "Delay of 64 ms is 2 silent frame(s) at the start, or 64 ms.\n";
    RunResult result = run({"-k", "-d", "64", in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, estimate);
    result = run({"/k", "-d", "64", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, estimate +
                              "Error in frame 6 detected.\n"
                              "Error in frame 12 detected.\n"
                              "Error in frame 17 detected.\n"
                              "Inserted 0 frames, actual length now is 00:00:00.736 in 23 frames.\n");
    Bytes silent;
    ASSERT_TRUE(lenfit::ac3_silent_unit(frames[0].data(), frames[0].size(), silent));
    Bytes expected = silent;
    testkit::append(expected, silent);
    for (std::size_t i = 0; i < 20; ++i) {
        testkit::append(expected, i == 5 ? silent : frames[i]);
        if (i == 15) testkit::append(expected, silent);
    }
    EXPECT_EQ(testkit::read_file(out), expected);
}

TEST_F(Ac3Tool, UsageTextOnABadCommandLine) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{{}, {"-t", "nan", in}}) {
        const RunResult result = run(arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, usage_text);
    }
}

// 44.1 kHz streams mix frames of 834 and 836 bytes at 192 kbit/s.
Bytes mixed_44k_frames(std::size_t count) {
    return testkit::ac3_frames(count, [](std::size_t i) {
        return at44k(testkit::ac3_long_at_44k(i, 192) ? 21 : 20);
    });
}

TEST_F(Ac3Tool, MixedLengthsAt44kAreCopiedWhole) {
    Bytes file = testkit::junk(333, 3);
    testkit::append(file, mixed_44k_frames(600));
    testkit::append(file, testkit::junk(77, 4));
    testkit::write_file(in, file);
    const RunResult result = run({"-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "Audio type is AC-3, version 8, main audio service, 5.1 channel(s) mode 3/2.\n"
              "Each frame is 834 bytes, sampling freq is 44.1 kHz, and bitrate is 192 kbps.\n"
              "Found 333 leading and 77 trailing junk bytes.\n"
              "Original length of audio is 20.898 seconds, or 00:00:20.898, in 600 frames\n"
              "Inserted 0 frames, actual length now is 00:00:20.898 in 600 frames.\n");
    EXPECT_EQ(testkit::read_file(out), stream_part(file, 333, 77));
}

TEST_F(Ac3Tool, ChangedFramesAt44kAreWholeAndInOrder) {
    const Bytes stream = mixed_44k_frames(900);
    testkit::write_file(in, stream);
    const auto input_frames = testkit::split_ac3_frames(stream);
    for (const char* target : {"25", "31.2", "20", "44", "1"}) {
        const RunResult result = run({"-t", target, "-o", out, in});
        ASSERT_EQ(result.status, 0) << target;
        const auto changes = testkit::compare_frames(input_frames,
                                                     testkit::split_ac3_frames(testkit::read_file(out)));
        ASSERT_TRUE(changes.whole) << target << ": " << changes.problem;
        const std::size_t changed = changes.duplicated.size() + changes.dropped.size();
        const std::string verb = changes.duplicated.empty() ? "Removed " : "Inserted ";
        EXPECT_NE(result.out.find(verb + std::to_string(changed) + " frames, "), std::string::npos)
            << target << "\n" << result.out;
        EXPECT_NE(result.out.find(" in " + std::to_string(changes.frames_written) + " frames.\n"),
                  std::string::npos)
            << target << "\n" << result.out;
        // The length written is the target, within a frame.
        const double frame_seconds = 1536 / 44.1 / 1000;
        EXPECT_NEAR(changes.frames_written * frame_seconds, std::max(0.0, std::atof(target)),
                    frame_seconds * 1.01)
            << target;
    }
}

TEST_F(Ac3Tool, ALongFirstFrameIsTakenWhole) {
    const Bytes file = testkit::ac3_frames(30, [](std::size_t i) { return at44k(i % 3 ? 20 : 21); });
    testkit::write_file(in, file);
    const RunResult result = run({"-o", out, in});
    EXPECT_NE(result.out.find("Each frame is 836 bytes"), std::string::npos);
    EXPECT_EQ(testkit::read_file(out), file);
}

TEST_F(Ac3Tool, ADamagedFrameIsReportedAndLeftOut) {
    for (const Ac3Header& header : {at44k(20), Ac3Header{}}) {
        const Bytes stream = testkit::ac3_frames(40, header);
        const std::size_t length = testkit::ac3_length(header);
        Bytes file = stream;
        for (std::size_t i = 0; i < 4; ++i) file[4 * length + i] = 0x30;  // frame 5's sync and crc1
        testkit::write_file(in, file);
        const RunResult result = run({"-o", out, in});
        EXPECT_EQ(result.status, 0);
        EXPECT_NE(result.out.find("Found 0 leading and 0 trailing junk bytes.\n"
                                  "Found " + std::to_string(length) + " damaged bytes in 1 place(s); they are left out.\n"
                                  "Original length of audio is "),
                  std::string::npos)
            << result.out;
        EXPECT_NE(result.out.find(" in 39 frames\nError in frame 5 detected.\nInserted 0 frames"), std::string::npos)
            << result.out;
        Bytes expected(stream.begin(), stream.begin() + static_cast<long>(4 * length));
        expected.insert(expected.end(), stream.begin() + static_cast<long>(5 * length), stream.end());
        EXPECT_EQ(testkit::read_file(out), expected);
    }
}

}  // namespace
