// Edit lists (-e) as a user runs them: which units a cut leaves out and where silence
// goes in, of which unit's shape; the reports; what is left when every unit is cut; and
// silence a shape cannot hold. The edited timeline with -k damage: the DTS tool test and
// the fuzz targets' account of it.
#include <gtest/gtest.h>

#include <vector>

#include "ac3/ac3_format.h"
#include "stream_builder.h"
#include "tool_runner.h"

namespace {

using testkit::Ac3Header;
using testkit::Bytes;
using testkit::RunResult;

Bytes silent(const Bytes& shape) {
    Bytes unit;
    EXPECT_TRUE(lenfit::ac3_silent_unit(shape.data(), shape.size(), unit));
    return unit;
}

class EditList : public ::testing::Test, protected testkit::ToolTest {
protected:
    EditList() : ToolTest(AC3LENFIT_PATH) {}
};

const char* const description =
    "Audio type is AC-3, version 8, main audio service, 5.1 channel(s) mode 3/2.\n"
    "Each frame is 1792 bytes, sampling freq is 48 kHz, and bitrate is 448 kbps.\n"
    "Found 0 leading and 0 trailing junk bytes.\n"
    "Original length of audio is 3.2 seconds, or 00:00:03.200, in 100 frames\n";

TEST_F(EditList, EachItemIsReportedAndTheFitIsOfTheEditedLength) {
    const Bytes stream = testkit::ac3_frames(100, Ac3Header{});
    testkit::write_file(in, stream);
    const RunResult result = run({"-e", "1-2.1,2.5+0.1,3-", "-r", "25:24", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string(description) +
                              "Cut from 00:00:00.992 to 00:00:02.112 leaves out 35 frame(s).\n"
                              "Silence of 0.1 seconds at 00:00:02.496 is 3 silent frame(s).\n"
                              "Cut from 00:00:03.008 to 00:00:03.200 leaves out 6 frame(s).\n"
                              "Edited length is 1.984 seconds, or 00:00:01.984, in 62 frames.\n"
                              "Target length is 2.06667 seconds, or 00:00:02.067.\n"
                              "Approximately 2 frames need to be inserted.\n"
                              "Inserted 2 frames, actual length now is 00:00:02.048 in 64 frames.\n");
    const auto written = testkit::split_ac3_units(testkit::read_file(out));
    ASSERT_EQ(written.size(), 64u);
    // The units left, with the silence in place, two of them written twice.
    const auto input_units = testkit::split_ac3_units(stream);
    std::vector<Bytes> edited(input_units.begin(), input_units.begin() + 31);
    edited.insert(edited.end(), input_units.begin() + 66, input_units.begin() + 78);
    edited.insert(edited.end(), 3, silent(input_units[77]));
    edited.insert(edited.end(), input_units.begin() + 78, input_units.begin() + 94);
    const auto changes = testkit::compare_frames(edited, written);
    ASSERT_TRUE(changes.whole) << changes.problem;
}

TEST_F(EditList, WhatIsLeftWhenEverythingIsCutIsTheDelaysSilence) {
    testkit::write_file(in, testkit::ac3_frames(100, Ac3Header{}));
    const RunResult result = run({"-e", "0-", "-t", "5", "-d", "64", "-o", out, in});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, std::string(description) +
                              "Cut from 00:00:00.000 to 00:00:03.200 leaves out 100 frame(s).\n"
                              "Edited length is 0 seconds, or 00:00:00.000, in 0 frames.\n"
                              "Delay of 64 ms is 2 silent frame(s) at the start, or 64 ms.\n"
                              "Inserted 0 frames, actual length now is 00:00:00.064 in 2 frames.\n");
    EXPECT_EQ(testkit::split_ac3_units(testkit::read_file(out)).size(), 2u);
}

TEST_F(EditList, SilenceOfAShapeTooShortIsRefusedBeforeAnythingIsWritten) {
    testkit::Eac3Header tiny;  // 5.1 frames of 32 bytes cannot hold silence
    tiny.frame_bytes = 32;
    Bytes stream;
    for (std::uint32_t i = 0; i < 400; ++i) testkit::append(stream, testkit::eac3_frame(tiny, i));
    testkit::write_file(in, stream);
    const RunResult counted = run({"-e", "1+1", in});
    EXPECT_EQ(counted.status, 0);
    EXPECT_NE(counted.out.find("Silence of 1 seconds at 00:00:00.992 is 31 silent frame(s).\n"), std::string::npos)
        << counted.out;
    const RunResult refused = run({"-e", "1+1", "-o", out, in});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.out, counted.out + "Silent frames of this stream's shape cannot be made.\n");
    EXPECT_TRUE(testkit::read_file(out).empty());
    // A cut needs no silence.
    EXPECT_EQ(run({"-e", "1-2", "-o", out, in}).status, 0);
}

}  // namespace
