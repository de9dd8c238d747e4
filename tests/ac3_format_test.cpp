#include <gtest/gtest.h>

#include "ac3/ac3_format.h"
#include "stream_builder.h"
#include "tool_runner.h"

namespace {

using testkit::Ac3Header;
using testkit::Bytes;

std::uint8_t byte4(unsigned fscod, unsigned frmsizecod) {
    return static_cast<std::uint8_t>(fscod << 6 | frmsizecod);
}

TEST(Ac3Header, FrameLengthsOfTheSizeTable) {
    EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(0, 30)), 1792u);
    EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(0, 31)), 1792u);
    EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(2, 36)), 3840u);
    EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(1, 0)), 138u);
    EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(1, 1)), 140u);
    EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(1, 20)), 834u);
    EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(1, 21)), 836u);
    EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(1, 36)), 2786u);
    EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(1, 37)), 2788u);
    EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(0, 0)), 128u);
    // Every code agrees with the standard's table as the test builder computes it.
    for (unsigned fscod = 0; fscod < 3; ++fscod) {
        for (unsigned code = 0; code < 38; ++code) {
            Ac3Header header;
            header.fscod = fscod;
            header.frmsizecod = code;
            EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(fscod, code)), testkit::ac3_length(header))
                << fscod << " " << code;
        }
    }
}

TEST(Ac3Header, ReservedCodesHaveNoLength) {
    EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(3, 30)), 0u);
    for (unsigned code = 38; code < 64; ++code) EXPECT_EQ(lenfit::ac3_frame_bytes(byte4(0, code)), 0u);
}

TEST(Ac3Header, StreamFormatOfTheFirstFrame) {
    Ac3Header header;
    header.fscod = 1;
    header.frmsizecod = 21;
    const Bytes frame = testkit::ac3_frame(header, 0);
    const lenfit::StreamFormat odd = lenfit::ac3_stream_format(frame.data(), frame.size(), 7);
    EXPECT_EQ(odd.first_frame_offset, 7u);
    EXPECT_EQ(odd.first_unit_bytes, 836u);
    EXPECT_EQ(odd.bitrate_kbps, 192);
    EXPECT_DOUBLE_EQ(odd.frame_seconds, 0.034829931972789115);
    EXPECT_TRUE(odd.length_varies);

    header.fscod = 0;
    header.frmsizecod = 31;
    const Bytes frame48 = testkit::ac3_frame(header, 0);
    const lenfit::StreamFormat at48 = lenfit::ac3_stream_format(frame48.data(), frame48.size(), 0);
    EXPECT_EQ(at48.first_unit_bytes, 1792u);
    EXPECT_EQ(at48.frame_seconds, 0.032);
    EXPECT_FALSE(at48.length_varies);
}

std::string first_line(const Ac3Header& header) {
    const Bytes frame = testkit::ac3_frame(header, 0);
    const auto format = lenfit::ac3_stream_format(frame.data(), frame.size(), 0);
    const std::string text = lenfit::ac3_description(frame.data(), format);
    return text.substr(0, text.find('\n'));
}

TEST(Ac3Description, ChannelsLfeAndModeFollowAcmod) {
    const struct {
        unsigned acmod, byte6_low;
        const char* channels;
    } cases[] = {
        {0, 0x00, "2 channel(s) mode 1+1."}, {1, 0x10, "1.1 channel(s) mode 1/0."},
        {2, 0x04, "2.1 channel(s) mode 2/0."}, {3, 0x04, "3.1 channel(s) mode 3/0."},
        {4, 0x04, "3.1 channel(s) mode 2/1."}, {5, 0x01, "4.1 channel(s) mode 3/1."},
        {6, 0x04, "4.1 channel(s) mode 2/2."}, {7, 0x01, "5.1 channel(s) mode 3/2."},
        {7, 0x1E, "5 channel(s) mode 3/2."},   {2, 0x1B, "2 channel(s) mode 2/0."},
    };
    for (const auto& c : cases) {
        Ac3Header header;
        header.acmod = c.acmod;
        header.byte6_low = c.byte6_low;
        EXPECT_EQ(first_line(header),
                  std::string("Audio type is AC-3, version 8, main audio service, ") + c.channels)
            << c.acmod;
    }
}

TEST(Ac3Description, ServiceFollowsBsmodAndAcmod) {
    for (unsigned bsmod = 0; bsmod < 8; ++bsmod) {
        for (unsigned acmod : {0u, 1u, 2u, 7u}) {
            Ac3Header header;
            header.bsmod = bsmod;
            header.acmod = acmod;
            const bool main = bsmod <= 1 || (bsmod == 7 && acmod >= 2);
            EXPECT_NE(first_line(header).find(main ? "main audio service" : "associated service"),
                      std::string::npos)
                << bsmod << " " << acmod;
        }
    }
}

TEST(Ac3Description, FrameLineAndVersion) {
    Ac3Header header;
    header.bsid = 6;
    header.fscod = 1;
    header.frmsizecod = 20;
    Bytes stream = testkit::ac3_frame(header, 0);
    testkit::append(stream, testkit::ac3_frame(header, 1));
    const std::string text = lenfit::probe_stream(stream.data(), stream.size(), 0, lenfit::ac3_tool).description;
    EXPECT_EQ(text.substr(text.find('\n') + 1),
              "Each frame is 834 bytes, sampling freq is 44.1 kHz, and bitrate is 192 kbps.\n");
    EXPECT_EQ(text.rfind("Audio type is AC-3, version 6, ", 0), 0u);
}

std::int64_t first_frame(const Bytes& bytes, std::size_t n) {
    return lenfit::find_first_frame(bytes.data(), n, lenfit::ac3_frame_syntax);
}

TEST(Ac3Probe, FindsTheFirstFrameThatLandsOnAnother) {
    Bytes stream = testkit::junk(1000);
    testkit::append(stream, testkit::ac3_frames(5, Ac3Header{}));
    EXPECT_EQ(first_frame(stream, stream.size()), 1000);
    EXPECT_EQ(first_frame(testkit::ac3_frames(3, Ac3Header{}), 3 * 1792), 0);
}

TEST(Ac3Probe, PassesOverSyncWordsThatDoNotLeadToAFrame) {
    Bytes stream = testkit::junk(500);
    stream[100] = 0x0B;  // a sync word whose length does not land on another
    stream[101] = 0x77;
    stream[104] = byte4(0, 30);
    stream[300] = 0x0B;  // reserved fscod 3
    stream[301] = 0x77;
    stream[304] = byte4(3, 0);
    stream[400] = 0x0B;  // frmsizecod past the table
    stream[401] = 0x77;
    stream[404] = byte4(0, 40);
    testkit::append(stream, testkit::ac3_frames(3, Ac3Header{}));
    EXPECT_EQ(first_frame(stream, stream.size()), 500);
}

TEST(Ac3Probe, TakesAJunkSyncWordWhoseLengthLandsOnTheNextFrame) {
    Bytes stream = testkit::junk(128);
    stream[0] = 0x0B;
    stream[1] = 0x77;
    stream[4] = byte4(0, 0);  // 128 bytes: exactly up to the real first frame
    testkit::append(stream, testkit::ac3_frames(3, Ac3Header{}));
    EXPECT_EQ(first_frame(stream, stream.size()), 0);
}

TEST(Ac3Probe, BytesBeyondTheDataReadNeverConfirm) {
    Bytes stream = testkit::ac3_frames(2, Ac3Header{});
    stream[1000] ^= 0x01;  // the first frame fails its CRC: only its successor confirms it
    // The second frame's sync word lies past the bytes the read delivered.
    EXPECT_EQ(first_frame(stream, 1792), -1);
    EXPECT_EQ(first_frame(stream, 1793), -1);
    EXPECT_EQ(first_frame(stream, 1794), 0);
    EXPECT_EQ(first_frame(stream, 0), -1);
    // A frame that passes its CRC needs all its bytes, no more.
    stream[1000] ^= 0x01;
    EXPECT_EQ(first_frame(stream, 1791), -1);
    EXPECT_EQ(first_frame(stream, 1792), 0);
}

TEST(Ac3Probe, BsidsAboveSixteenAreNeitherSyntax) {
    for (unsigned bsid : {17u, 31u}) {
        Ac3Header header;
        header.bsid = bsid;
        EXPECT_EQ(first_frame(testkit::ac3_frames(4, header), 4 * 1792), -1) << bsid;
    }
    Ac3Header header;
    header.bsid = 10;
    EXPECT_EQ(first_frame(testkit::ac3_frames(4, header), 4 * 1792), 0);
}

TEST(Ac3Probe, AWholeFrameThatPassesItsCrcIsConfirmedWithoutASuccessor) {
    // Sixteen bytes of packet header before every frame, as some extractions leave.
    Bytes stream;
    for (std::uint32_t i = 0; i < 4; ++i) {
        testkit::append(stream, testkit::junk(16, i));
        testkit::append(stream, testkit::ac3_frame(Ac3Header{}, i));
    }
    EXPECT_EQ(first_frame(stream, stream.size()), 16);
    // With a flipped bit the first frame fails its CRC; the second passes.
    stream[16 + 500] ^= 0x10;
    EXPECT_EQ(first_frame(stream, stream.size()), 16 + 1792 + 16);
    // A frame that the bytes read hold only in part is never checked.
    EXPECT_EQ(first_frame(stream, 16 + 1792 + 16 + 1791), -1);
}

TEST(Ac3Crc, EveryFrameOfTheRealEncodesPassesAndADamagedOneFails) {
    for (const char* name : {"ac3_48k_5.1_384k.ac3", "ac3_44k_stereo_192k.ac3", "ac3_32k_mono_64k.ac3"}) {
        const Bytes stream = testkit::read_file(std::string(FIXTURES_DIR) + "/" + name);
        const auto frames = testkit::split_ac3_frames(stream);
        ASSERT_GT(frames.size(), 10u);
        for (const Bytes& frame : frames) {
            EXPECT_TRUE(lenfit::ac3_frame_passes_crc(frame.data(), frame.size())) << name;
            EXPECT_EQ(lenfit::ac3_crc16(frame.data() + 2, frame.size() - 2),
                      testkit::ac3_crc(frame.data() + 2, frame.size() - 2));
        }
        for (std::size_t at : {2u, 5u, 100u, 300u}) {
            Bytes damaged = frames[3];
            damaged[at] ^= 0x01;
            EXPECT_FALSE(lenfit::ac3_frame_passes_crc(damaged.data(), damaged.size())) << name << " " << at;
        }
        Bytes cut = frames[3];
        cut.resize(cut.size() - 2);
        EXPECT_FALSE(lenfit::ac3_frame_passes_crc(cut.data(), cut.size()));
    }
}

}  // namespace
