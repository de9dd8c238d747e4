#include <gtest/gtest.h>

#include "common/estimate.h"
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
    EXPECT_EQ(at48.first_unit_bytes, 576u);
    EXPECT_EQ(at48.frame_seconds, 0.024);
    EXPECT_EQ(at48.sample_rate_khz, 48.0);
    EXPECT_EQ(at48.bitrate_kbps, 192);
    EXPECT_FALSE(at48.length_varies);

    const auto padded = lenfit::layer2_stream_format(testkit::mp2_frame(mp2_header(1, 0, 8, 1), 0).data(), 0);
    EXPECT_EQ(padded.first_unit_bytes, 418u);
    EXPECT_TRUE(padded.length_varies);
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

Bytes id3v2(unsigned version, unsigned flags, std::uint32_t size) {
    Bytes tag = {'I', 'D', '3', static_cast<std::uint8_t>(version), 0, static_cast<std::uint8_t>(flags)};
    for (int shift = 21; shift >= 0; shift -= 7) tag.push_back(static_cast<std::uint8_t>(size >> shift & 0x7F));
    return tag;
}

TEST(Id3v2Tag, LengthFromItsSyncsafeSizeAndFooter) {
    EXPECT_EQ(lenfit::id3v2_tag_length(id3v2(3, 0, 30000).data(), 10), 30010u);
    EXPECT_EQ(lenfit::id3v2_tag_length(id3v2(4, 0x10, 30000).data(), 10), 30020u);
    EXPECT_EQ(lenfit::id3v2_tag_length(id3v2(2, 0, 0).data(), 10), 10u);
    EXPECT_EQ(lenfit::id3v2_tag_length(id3v2(4, 0, (1u << 28) - 1).data(), 10), (1u << 28) + 9);
    // Not a tag: another version, a size byte with its high bit, too few bytes.
    EXPECT_EQ(lenfit::id3v2_tag_length(id3v2(5, 0, 100).data(), 10), 0u);
    EXPECT_EQ(lenfit::id3v2_tag_length(id3v2(1, 0, 100).data(), 10), 0u);
    Bytes high = id3v2(3, 0, 100);
    high[7] = 0x80;
    EXPECT_EQ(lenfit::id3v2_tag_length(high.data(), 10), 0u);
    EXPECT_EQ(lenfit::id3v2_tag_length(id3v2(3, 0, 100).data(), 9), 0u);
    Bytes other = id3v2(3, 0, 100);
    other[2] = '2';
    EXPECT_EQ(lenfit::id3v2_tag_length(other.data(), 10), 0u);
}

TEST(Layer2Regularity, PaddedAndUnpaddedFramesMixed) {
    const struct {
        std::uint64_t frames, padded;
        bool irregular;
    } walks[] = {{1000, 0, false}, {1000, 1000, false}, {0, 0, false},
                 {1000, 1, true},  {1000, 959, true},   {1000, 999, true}};
    for (const auto& w : walks) {
        lenfit::WalkSummary walk;
        walk.units = w.frames;
        walk.long_units = w.padded;
        EXPECT_EQ(lenfit::padding_irregular(walk), w.irregular) << w.padded;
    }
}

}  // namespace
