#include <gtest/gtest.h>

#include "mp2/mp2_format.h"
#include "stream_builder.h"

namespace {

using testkit::Bytes;
using testkit::Mp2Header;

using testkit::mp2_header;

std::uint32_t length_of(const Mp2Header& header) {
    return lenfit::layer2_frame_bytes(testkit::mp2_frame(header, 0).data());
}

TEST(Layer2Header, FrameLengths) {
    EXPECT_EQ(length_of(mp2_header(1, 0, 1)), 104u);       // 44.1 kHz, 32 kbit/s
    EXPECT_EQ(length_of(mp2_header(1, 0, 8)), 417u);       // 44.1 kHz, 128 kbit/s
    EXPECT_EQ(length_of(mp2_header(1, 0, 8, 1)), 418u);
    EXPECT_EQ(length_of(mp2_header(1, 0, 14)), 1253u);     // 44.1 kHz, 384 kbit/s
    EXPECT_EQ(length_of(mp2_header(1, 1, 1)), 96u);        // 48 kHz, 32 kbit/s
    EXPECT_EQ(length_of(mp2_header(1, 1, 10)), 576u);      // 48 kHz, 192 kbit/s
    EXPECT_EQ(length_of(mp2_header(1, 2, 14)), 1728u);     // 32 kHz, 384 kbit/s
    EXPECT_EQ(length_of(mp2_header(1, 2, 14, 1)), 1729u);
    EXPECT_EQ(length_of(mp2_header(0, 1, 8)), 384u);       // 24 kHz, 64 kbit/s
    EXPECT_EQ(length_of(mp2_header(0, 0, 14)), 1044u);     // 22.05 kHz, 160 kbit/s
    EXPECT_EQ(length_of(mp2_header(0, 2, 1)), 72u);        // 16 kHz, 8 kbit/s
    for (unsigned id = 0; id < 2; ++id) {
        for (unsigned sampling = 0; sampling < 3; ++sampling) {
            for (unsigned index = 1; index < 15; ++index) {
                for (unsigned padding = 0; padding < 2; ++padding) {
                    const Mp2Header header = mp2_header(id, sampling, index, padding);
                    EXPECT_EQ(length_of(header), testkit::mp2_length(header));
                }
            }
        }
    }
}

TEST(Layer2Header, FreeFormatAndReservedValuesHaveNoLength) {
    EXPECT_EQ(length_of(mp2_header(1, 1, 0)), 0u);
    EXPECT_EQ(length_of(mp2_header(1, 1, 0, 1)), 0u);
    EXPECT_EQ(length_of(mp2_header(1, 1, 15)), 0u);
    EXPECT_EQ(length_of(mp2_header(1, 3, 10)), 0u);
    EXPECT_EQ(length_of(mp2_header(0, 3, 10)), 0u);
}

TEST(Layer2Header, StreamFormat) {
    const auto at48 = lenfit::layer2_stream_format(testkit::mp2_frame(mp2_header(1, 1, 10), 0).data(), 300);
    EXPECT_EQ(at48.first_frame_offset, 300u);
    EXPECT_EQ(at48.frame_bytes, 576u);
    EXPECT_EQ(at48.frame_seconds, 0.024);
    EXPECT_EQ(at48.sample_rate_khz, 48.0);
    EXPECT_EQ(at48.bitrate_kbps, 192);
    EXPECT_FALSE(at48.length_varies);
    EXPECT_FALSE(at48.padding_irregular);

    const auto padded = lenfit::layer2_stream_format(testkit::mp2_frame(mp2_header(1, 0, 8, 1), 0).data(), 0);
    EXPECT_EQ(padded.padded, 1);
    EXPECT_EQ(padded.frame_bytes, 418u);
    EXPECT_TRUE(padded.length_varies);
    EXPECT_DOUBLE_EQ(padded.mean_frame_bytes, 144.0 * 128 / 44.1);
    EXPECT_DOUBLE_EQ(padded.frame_seconds, 1152 / 44.1 / 1000);

    const auto at24 = lenfit::layer2_stream_format(testkit::mp2_frame(mp2_header(0, 1, 8), 0).data(), 0);
    EXPECT_EQ(at24.sample_rate_khz, 24.0);
    EXPECT_EQ(at24.bitrate_kbps, 64);
    EXPECT_EQ(at24.frame_seconds, 0.048);
    EXPECT_FALSE(at24.length_varies);
    EXPECT_TRUE(lenfit::layer2_stream_format(testkit::mp2_frame(mp2_header(0, 0, 8), 0).data(), 0).length_varies);
}

std::string description(Mp2Header header) { return lenfit::layer2_description(testkit::mp2_frame(header, 0).data()); }

TEST(Layer2Description, VersionLayerChannelsCrcAndPadding) {
    Mp2Header header = mp2_header(1, 1, 10);
    EXPECT_EQ(description(header), "Audio type is MPEG-1, Layer 2, stereo, without CRC, and without padding.\n");
    header.mode = 1;
    EXPECT_EQ(description(header), "Audio type is MPEG-1, Layer 2, stereo, without CRC, and without padding.\n");
    header.mode = 2;
    header.protection_bit = 0;
    EXPECT_EQ(description(header), "Audio type is MPEG-1, Layer 2, dual channel, with CRC, and without padding.\n");
    header.mode = 3;
    header.padding = 1;
    header.id = 0;
    EXPECT_EQ(description(header), "Audio type is MPEG-2, Layer 2, mono, with CRC, and with padding.\n");
    header.layer = 1;
    EXPECT_EQ(description(header).substr(0, 30), "Audio type is MPEG-2, Layer 3,");
    header.layer = 3;
    EXPECT_EQ(description(header).substr(0, 30), "Audio type is MPEG-2, Layer 1,");
    header.layer = 0;
    EXPECT_EQ(description(header).substr(0, 30), "Audio type is MPEG-2, Layer 4,");
}

TEST(Layer2Description, FrameLine) {
    const auto format = lenfit::layer2_stream_format(testkit::mp2_frame(mp2_header(0, 0, 14), 0).data(), 0);
    EXPECT_EQ(lenfit::frame_line(format),
              "Each frame is 1044 bytes, sampling freq is 22.05 kHz, and bitrate is 160 kbps.\n");
}

std::int64_t first_frame(const Bytes& bytes) {
    return lenfit::find_first_frame(bytes.data(), bytes.size(), lenfit::layer2_frame_syntax);
}

TEST(Layer2Probe, FindsTheFirstFrameBehindJunkAndFalseSyncs) {
    Bytes stream = testkit::junk(300);
    stream[50] = 0xFF;  // a sync pattern whose length lands on nothing
    stream[51] = 0xFD;
    stream[52] = 0xA4;
    stream[150] = 0xFF;  // free format
    stream[151] = 0xFD;
    stream[152] = 0x04;
    testkit::append(stream, testkit::mp2_frames(4, mp2_header(1, 1, 10)));
    EXPECT_EQ(first_frame(stream), 300);
    EXPECT_EQ(first_frame(testkit::mp2_frames(4, mp2_header(1, 1, 0))), -1);
}

TEST(Layer2Probe, MpegTwoIsMeasuredWithItsOwnTables) {
    // At 24 kHz and 64 kbit/s a frame is 384 bytes; the MPEG-1 tables (48 kHz,
    // 128 kbit/s) would also give 384, so take 16 kHz, 8 kbit/s: 72 bytes.
    EXPECT_EQ(first_frame(testkit::mp2_frames(4, mp2_header(0, 2, 1))), 0);
}

std::int64_t tail_junk(const Bytes& file, const lenfit::StreamFormat& format) {
    lenfit::ProbeBuffer window;
    std::copy(file.end() - 10000, file.end(), window.begin());
    return lenfit::layer2_trailing_junk(window, format);
}

lenfit::StreamFormat format_of(const Mp2Header& header) {
    return lenfit::layer2_stream_format(testkit::mp2_frame(header, 0).data(), 0);
}

TEST(Layer2TailRule, CountsBytesAfterTheLastCompleteFrame) {
    const auto format = format_of(mp2_header(1, 1, 10));
    Bytes frames = testkit::mp2_frames(30, mp2_header(1, 1, 10));
    EXPECT_EQ(tail_junk(frames, format), 0);
    Bytes junk50 = frames;
    testkit::append(junk50, testkit::junk(50));
    EXPECT_EQ(tail_junk(junk50, format), 50);
    Bytes junk_long = frames;
    testkit::append(junk_long, testkit::junk(2000));
    EXPECT_EQ(tail_junk(junk_long, format), 2000);
    Bytes cut = frames;
    cut.resize(cut.size() - 476);
    EXPECT_EQ(tail_junk(cut, format), 100);
}

TEST(Layer2TailRule, PaddedFramesAndSyncBytesInsideFrames) {
    const auto unpadded = format_of(mp2_header(1, 0, 8));
    Bytes frames = testkit::mp2_frames(30, [](std::size_t i) { return mp2_header(1, 0, 8, i % 2); });
    EXPECT_EQ(tail_junk(frames, unpadded), 0);
    testkit::append(frames, testkit::junk(5));
    EXPECT_EQ(tail_junk(frames, unpadded), 5);

    Bytes inside = testkit::mp2_frames(30, mp2_header(1, 1, 10));
    inside[inside.size() - 300] = 0xFF;  // a sync pattern in the last frame's body
    inside[inside.size() - 299] = 0xF3;
    EXPECT_EQ(tail_junk(inside, format_of(mp2_header(1, 1, 10))), 0);
}

TEST(Layer2TailRule, WithoutTwoFramesInTheWindowFallsBackToTheLastSyncPattern) {
    // p is 0: 10000 modulo 576, less the padding bit of window byte 2.
    const Bytes no_sync = testkit::junk(12000);
    EXPECT_EQ(tail_junk(no_sync, format_of(mp2_header(1, 1, 10))), 208 - ((no_sync[2002] >> 1) & 1));
    Bytes ends_in_sync = testkit::junk(12000);
    ends_in_sync[11998] = 0xFF;
    ends_in_sync[11999] = 0xF0;
    EXPECT_EQ(tail_junk(ends_in_sync, format_of(mp2_header(1, 0, 8, 1))), 2);

    // A lone padded frame after an unpadded first frame: 418 bytes, 1 left over,
    // taken back off.
    Bytes lone = testkit::junk(9582);
    testkit::append(lone, testkit::mp2_frame(mp2_header(1, 0, 8, 1), 0));
    EXPECT_EQ(tail_junk(lone, format_of(mp2_header(1, 0, 8))), 0);
    Bytes lone_cut = testkit::junk(9583);
    const Bytes padded_frame = testkit::mp2_frame(mp2_header(1, 0, 8, 1), 0);
    testkit::append(lone_cut, Bytes(padded_frame.begin(), padded_frame.end() - 1));
    EXPECT_EQ(tail_junk(lone_cut, format_of(mp2_header(1, 0, 8))), 0) << "never below 0";
}

TEST(Layer2Regularity, WarnsOnlyBeyondAFractionOfAFrame) {
    lenfit::StreamFormat format;
    testing::internal::CaptureStdout();
    lenfit::check_frame_regularity(1000.0, 1000, format);
    lenfit::check_frame_regularity(1000.004, 1000, format);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(format.padding_irregular);
    testing::internal::CaptureStdout();
    lenfit::check_frame_regularity(997.7, 998, format);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Frame irregularities detected, may be in padding.\n");
    EXPECT_TRUE(format.padding_irregular);
}

TEST(Layer2Regularity, MeanLengthJudgesAnEncodersPaddingRegular) {
    // 1000 frames at 44.1 kHz and 128 kbit/s, 959 of them padded: 417959 bytes.
    const auto format = format_of(mp2_header(1, 0, 8));
    const auto padded = lenfit::compute_length_estimate(417959, 0, 0.0, format);
    EXPECT_NEAR(padded.frames_exact, 999.9996, 0.0001);
    EXPECT_EQ(padded.frame_count, 1000u);
    const auto unpadded = lenfit::compute_length_estimate(417000, 0, 0.0, format);
    EXPECT_NEAR(unpadded.frames_exact, 997.7, 0.01);
    EXPECT_EQ(unpadded.frame_count, 998u);
}

TEST(Layer2AlignmentRule, EnabledByRateOrByTheCheck) {
    auto at48 = format_of(mp2_header(1, 1, 10));
    EXPECT_FALSE(lenfit::layer2_alignment_rule(at48).enabled);
    EXPECT_EQ(lenfit::layer2_alignment_rule(at48).read_length, 576u);
    auto padded48 = format_of(mp2_header(1, 1, 10, 1));
    EXPECT_EQ(lenfit::layer2_alignment_rule(padded48).read_length, 577u);
    padded48.padding_irregular = true;
    EXPECT_TRUE(lenfit::layer2_alignment_rule(padded48).enabled);
    EXPECT_EQ(lenfit::layer2_alignment_rule(padded48).read_length, 576u);
    const auto padded44 = format_of(mp2_header(1, 0, 8, 1));
    EXPECT_TRUE(lenfit::layer2_alignment_rule(padded44).enabled);
    EXPECT_EQ(lenfit::layer2_alignment_rule(padded44).read_length, 417u);
    EXPECT_EQ(lenfit::layer2_alignment_rule(padded44).extra_bytes, 1u);
}

}  // namespace
