#include <gtest/gtest.h>

#include "ac3/ac3_format.h"
#include "stream_builder.h"

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
    const lenfit::StreamFormat odd = lenfit::ac3_stream_format(frame.data(), 7);
    EXPECT_EQ(odd.first_frame_offset, 7u);
    EXPECT_EQ(odd.frame_bytes, 836u);
    EXPECT_EQ(odd.odd_frame_size, 1);
    EXPECT_EQ(odd.bitrate_kbps, 192);
    EXPECT_DOUBLE_EQ(odd.frame_seconds, 0.034829931972789115);
    EXPECT_TRUE(odd.length_varies);
    EXPECT_DOUBLE_EQ(odd.mean_frame_bytes, 192.0 * 192 / 44.1);

    header.fscod = 0;
    header.frmsizecod = 31;
    const Bytes frame48 = testkit::ac3_frame(header, 0);
    const lenfit::StreamFormat at48 = lenfit::ac3_stream_format(frame48.data(), 0);
    EXPECT_EQ(at48.odd_frame_size, 0);
    EXPECT_EQ(at48.frame_bytes, 1792u);
    EXPECT_EQ(at48.frame_seconds, 0.032);
    EXPECT_FALSE(at48.length_varies);
    EXPECT_EQ(at48.mean_frame_bytes, 1792.0);
}

std::string first_line(const Ac3Header& header) {
    const Bytes frame = testkit::ac3_frame(header, 0);
    const auto format = lenfit::ac3_stream_format(frame.data(), 0);
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
    header.bsid = 31;
    header.fscod = 1;
    header.frmsizecod = 20;
    const Bytes frame = testkit::ac3_frame(header, 0);
    const auto format = lenfit::ac3_stream_format(frame.data(), 0);
    const std::string text = lenfit::ac3_description(frame.data(), format);
    EXPECT_EQ(text.substr(text.find('\n') + 1),
              "Each frame is 834 bytes, sampling freq is 44.1 kHz, and bitrate is 192 kbps.\n");
    EXPECT_EQ(text.rfind("Audio type is AC-3, version 31, ", 0), 0u);
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
    const Bytes stream = testkit::ac3_frames(2, Ac3Header{});
    // The second frame's sync word lies past the bytes the read delivered.
    EXPECT_EQ(first_frame(stream, 1792), -1);
    EXPECT_EQ(first_frame(stream, 1793), -1);
    EXPECT_EQ(first_frame(stream, 1794), 0);
    EXPECT_EQ(first_frame(stream, 0), -1);
}

// The tail rule on the last 10000 bytes of a stream.
std::int64_t tail_junk(const Bytes& file, const lenfit::StreamFormat& format) {
    lenfit::ProbeBuffer window;
    std::copy(file.end() - 10000, file.end(), window.begin());
    return lenfit::count_ac3_trailing_junk(window, format);
}

lenfit::StreamFormat format_of(const Bytes& frame) { return lenfit::ac3_stream_format(frame.data(), 0); }

TEST(Ac3TailRule, CountsTheBytesAfterTheLastCompleteFrame) {
    const Bytes frames = testkit::ac3_frames(20, Ac3Header{});
    const auto format = format_of(frames);
    EXPECT_EQ(tail_junk(frames, format), 0);
    Bytes with_junk = frames;
    testkit::append(with_junk, testkit::junk(300));
    EXPECT_EQ(tail_junk(with_junk, format), 300);
    // Junk longer than a frame is counted whole, not modulo the frame length.
    Bytes long_junk = frames;
    testkit::append(long_junk, testkit::junk(5000));
    EXPECT_EQ(tail_junk(long_junk, format), 5000);
}

TEST(Ac3TailRule, ACutShortFrameIsJunk) {
    Bytes frames = testkit::ac3_frames(20, Ac3Header{});
    frames.resize(frames.size() - 1000);  // the last frame keeps 792 bytes
    EXPECT_EQ(tail_junk(frames, format_of(frames)), 792);
    frames.resize(frames.size() - 790);  // only 2 bytes: the header is cut off
    EXPECT_EQ(tail_junk(frames, format_of(frames)), 2);
}

TEST(Ac3TailRule, FollowsMixedLengthsAt44k) {
    Ac3Header even;
    even.fscod = 1;
    even.frmsizecod = 20;
    Ac3Header odd = even;
    odd.frmsizecod = 21;
    const auto mixed = [&](std::size_t i) { return i % 3 == 0 ? even : odd; };
    Bytes frames = testkit::ac3_frames(30, mixed);
    EXPECT_EQ(tail_junk(frames, format_of(frames)), 0);
    // A long last frame cut short by one byte is all junk.
    Bytes cut = frames;
    cut.pop_back();
    EXPECT_EQ(tail_junk(cut, format_of(cut)), 835);
    testkit::append(frames, testkit::junk(17));
    EXPECT_EQ(tail_junk(frames, format_of(frames)), 17);
}

TEST(Ac3TailRule, SyncWordsInsideFramesDoNotEndTheStream) {
    Bytes frames = testkit::ac3_frames(20, Ac3Header{});
    // A sync word inside the last frame's body.
    frames[frames.size() - 700] = 0x0B;
    frames[frames.size() - 699] = 0x77;
    EXPECT_EQ(tail_junk(frames, format_of(frames)), 0);
}

TEST(Ac3TailRule, WithoutTwoFramesInTheWindowFallsBackToTheLastSyncWord) {
    Ac3Header header;
    header.fscod = 1;
    header.frmsizecod = 21;  // 836 bytes
    const Bytes first = testkit::ac3_frame(header, 0);
    const auto format = format_of(first);
    EXPECT_EQ(tail_junk(testkit::junk(12000), format), 10000 % 836);

    // One lone frame: its length is taken from the first frame, remainder as junk.
    Bytes lone = testkit::junk(9100);
    testkit::append(lone, first);
    testkit::append(lone, testkit::junk(100));
    EXPECT_EQ(tail_junk(lone, format), 100);

    // A long last frame after an even first frame takes 2 bytes off the count, which
    // never goes below 0.
    Ac3Header even = header;
    even.frmsizecod = 20;
    const auto even_format = format_of(testkit::ac3_frame(even, 0));
    Bytes one_long = testkit::junk(9164);
    testkit::append(one_long, first);
    EXPECT_EQ(tail_junk(one_long, even_format), 0);
    Bytes cut_long = testkit::junk(9165);
    testkit::append(cut_long, Bytes(first.begin(), first.end() - 1));
    EXPECT_EQ(tail_junk(cut_long, even_format), 0);
}

TEST(Ac3AlignmentRule, OnlyAt44kAndAtTheShortLength) {
    Ac3Header header;
    header.fscod = 1;
    header.frmsizecod = 21;
    const auto odd_rule = lenfit::ac3_alignment_rule(format_of(testkit::ac3_frame(header, 0)));
    EXPECT_TRUE(odd_rule.enabled);
    EXPECT_EQ(odd_rule.read_length, 834u);
    EXPECT_EQ(odd_rule.extra_bytes, 2u);

    header.fscod = 0;  // 48 kHz: an odd code adds nothing
    const auto rule48 = lenfit::ac3_alignment_rule(format_of(testkit::ac3_frame(header, 0)));
    EXPECT_FALSE(rule48.enabled);
    EXPECT_EQ(rule48.read_length, 768u);
}

}  // namespace
