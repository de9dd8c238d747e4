// The walk of a stream's frames, on streams built byte by byte: which frames it takes,
// what it counts as damage and trailing junk, and that neither the window's size nor
// counting in two halves changes any of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "ac3/ac3_format.h"
#include "mp2/mp2_format.h"
#include "stream_builder.h"
#include "tool_runner.h"

namespace {

// Everything a count holds, to compare two counts field by field.
auto fields(const lenfit::WalkSummary& s) {
    return std::make_tuple(s.frames, s.end, s.damaged_bytes, s.damaged_places, s.lowest_bitrate_kbps,
                           s.highest_bitrate_kbps, s.long_frames);
}

using testkit::Ac3Header;
using testkit::Bytes;
using testkit::mp2_header;

struct Taken {
    std::size_t offset;
    std::size_t length;
    std::int64_t damage_before;
    bool operator==(const Taken& other) const {
        return offset == other.offset && length == other.length && damage_before == other.damage_before;
    }
};

struct Walked {
    std::vector<Taken> frames;
    std::int64_t end = 0;
    lenfit::WalkSummary summary;
};

lenfit::StreamFormat format_of(const lenfit::FormatTool& tool, const std::uint8_t* header, std::size_t n,
                               std::uint32_t at) {
    return &tool == &lenfit::ac3_tool ? lenfit::ac3_stream_format(header, n, at)
                                      : lenfit::layer2_stream_format(header, at);
}

Walked walk(const Bytes& file, const lenfit::FormatTool& tool, std::size_t window = lenfit::stream_window_size) {
    Walked walked;
    std::FILE* input = testkit::memory_file(file);
    lenfit::ProbeBuffer probe{};
    std::size_t header_at = 0;
    const std::int64_t first = tool.first_frame(input, probe, header_at);
    EXPECT_GE(first, 0);
    if (first < 0) return walked;
    const lenfit::StreamFormat format = format_of(tool, probe.data() + header_at, probe.size() - header_at,
                                                    static_cast<std::uint32_t>(first));
    const std::string path = "stream";
    const auto size = static_cast<std::int64_t>(file.size());
    lenfit::FrameWalk frames = lenfit::start_walk(input, path, format, *tool.syntax, size, window);
    lenfit::WalkStep step;
    while (lenfit::next_frame(frames, step)) {
        const auto offset = static_cast<std::size_t>(frames.position) - step.length;
        EXPECT_EQ(Bytes(step.frame, step.frame + step.length),
                  Bytes(file.begin() + static_cast<long>(offset), file.begin() + static_cast<long>(offset + step.length)));
        walked.frames.push_back({offset, step.length, step.damaged_bytes});
    }
    walked.end = frames.position;
    lenfit::FrameWalk again = lenfit::start_walk(input, path, format, *tool.syntax, size, window);
    walked.summary = lenfit::summarize_stream(again);
    // Counted in two halves at once, whatever its size, the stream counts the same.
    lenfit::FrameWalk halves = lenfit::start_walk(input, path, format, *tool.syntax, size, window);
    EXPECT_EQ(fields(lenfit::summarize_stream(halves, 0)), fields(walked.summary));
    std::fclose(input);
    return walked;
}

// Where each frame of a stream of back-to-back frames starts, and its length.
std::vector<Taken> frames_of(const std::vector<Bytes>& frames, std::size_t from = 0) {
    std::vector<Taken> taken;
    for (const Bytes& frame : frames) {
        taken.push_back({from, frame.size(), 0});
        from += frame.size();
    }
    return taken;
}

Bytes joined(const std::vector<Bytes>& frames) {
    Bytes bytes;
    for (const Bytes& frame : frames) testkit::append(bytes, frame);
    return bytes;
}

Ac3Header ac3_at(unsigned frmsizecod, unsigned acmod) {
    Ac3Header header;
    header.frmsizecod = frmsizecod;
    header.acmod = acmod;
    return header;
}

TEST(Ac3Walk, AFrameThatPassesItsCrcStaysWhenJunkFollowsIt) {
    // Sixteen bytes of packet header before every frame, and an ID3v1 tag at the end.
    std::vector<Bytes> frames;
    Bytes file;
    std::vector<Taken> expected;
    for (std::uint32_t i = 0; i < 12; ++i) {
        testkit::append(file, testkit::junk(16, i));
        frames.push_back(testkit::ac3_frame(ac3_at(i % 2 ? 20 : 30, 7), i));
        expected.push_back({file.size(), frames.back().size(), i == 0 ? 0 : 16});
        testkit::append(file, frames.back());
    }
    Bytes tag = {'T', 'A', 'G'};
    tag.resize(128, ' ');
    testkit::append(file, tag);
    const Walked walked = walk(file, lenfit::ac3_tool);
    EXPECT_EQ(walked.frames, expected);
    EXPECT_EQ(walked.summary.damaged_bytes, 11 * 16);
    EXPECT_EQ(walked.summary.damaged_places, 11u);
    EXPECT_EQ(walked.end, static_cast<std::int64_t>(file.size() - 128));
}

TEST(Ac3Walk, AFrameThatFailsItsCrcStaysOnlyWhileItsSuccessorConfirmsIt) {
    std::vector<Bytes> frames;
    for (std::uint32_t i = 0; i < 10; ++i) frames.push_back(testkit::ac3_frame(Ac3Header{}, i));
    frames[4][900] ^= 0x04;  // a flipped bit, which a decoder conceals
    EXPECT_EQ(walk(joined(frames), lenfit::ac3_tool).frames, frames_of(frames));

    // The same frame with junk after it is not vouched for by anything: left out.
    Bytes file = joined(std::vector<Bytes>(frames.begin(), frames.begin() + 5));
    testkit::append(file, testkit::junk(40));
    testkit::append(file, joined(std::vector<Bytes>(frames.begin() + 5, frames.end())));
    std::vector<Taken> expected = frames_of(frames);
    expected.erase(expected.begin() + 4);
    for (std::size_t i = 4; i < expected.size(); ++i) expected[i].offset += 40;
    expected[4].damage_before = 1792 + 40;
    EXPECT_EQ(walk(file, lenfit::ac3_tool).frames, expected);

    // As the last frame it is trailing junk.
    const Bytes last = joined(std::vector<Bytes>(frames.begin(), frames.begin() + 5));
    const Walked walked = walk(last, lenfit::ac3_tool);
    EXPECT_EQ(walked.frames.size(), 5u) << "the end of the file confirms it";
    Bytes cut = last;
    cut.pop_back();
    EXPECT_EQ(walk(cut, lenfit::ac3_tool).end, 4 * 1792);
}

TEST(Ac3Walk, FramesOfAnotherRateOrSyntaxAreDamage) {
    std::vector<Bytes> frames;
    for (std::uint32_t i = 0; i < 12; ++i) frames.push_back(testkit::ac3_frame(Ac3Header{}, i));
    Ac3Header other_rate;
    other_rate.fscod = 1;
    other_rate.frmsizecod = 20;
    Ac3Header e_syntax;
    e_syntax.bsid = 16;
    frames[3] = testkit::ac3_frame(other_rate, 3);
    frames[7] = testkit::ac3_frame(e_syntax, 7);
    std::vector<Taken> expected = frames_of(frames);
    expected[4].damage_before = static_cast<std::int64_t>(frames[3].size());
    expected[8].damage_before = 1792;
    expected.erase(expected.begin() + 7);
    expected.erase(expected.begin() + 3);
    const Walked walked = walk(joined(frames), lenfit::ac3_tool);
    EXPECT_EQ(walked.frames, expected);
    EXPECT_EQ(walked.summary.damaged_places, 2u);
}

TEST(Layer2Walk, CountsPaddedFramesAndBitratesOfOneStream) {
    // 48 kHz 192 kbit/s, 384 kbit/s, 192 kbit/s again, one frame in three padded; a
    // 44.1 kHz frame in the middle belongs to no stream of 48 kHz.
    std::vector<Bytes> frames;
    for (std::uint32_t i = 0; i < 30; ++i) {
        frames.push_back(testkit::mp2_frame(mp2_header(1, 1, i >= 10 && i < 20 ? 14 : 10, i % 3 == 0), i));
    }
    frames[25] = testkit::mp2_frame(mp2_header(1, 0, 10), 25);
    const Walked walked = walk(joined(frames), lenfit::mp2_tool);
    EXPECT_EQ(walked.summary.frames, 29u);
    EXPECT_EQ(walked.summary.long_frames, 10u);
    EXPECT_EQ(walked.summary.lowest_bitrate_kbps, 192);
    EXPECT_EQ(walked.summary.highest_bitrate_kbps, 384);
    EXPECT_EQ(walked.summary.damaged_bytes, static_cast<std::int64_t>(frames[25].size()));
}

TEST(Walk, TheWindowSizeChangesNothing) {
    // Damage longer than the window, frames across every move of it.
    Bytes file = testkit::ac3_frames(30, ac3_at(2, 1));
    testkit::append(file, testkit::junk(40000, 3));
    testkit::append(file, testkit::ac3_frames(70, [](std::size_t i) { return ac3_at(static_cast<unsigned>(i % 38), 7); }));
    file[4700] ^= 0x01;  // the frame before the junk fails its CRC
    const Walked reference = walk(file, lenfit::ac3_tool);
    ASSERT_EQ(reference.summary.frames, 99u);
    const std::size_t window = lenfit::ac3_frame_syntax.window_bytes;
    // The smallest window the walk takes, and a few pages more.
    for (std::size_t size : {std::size_t{0}, 2 * window + 3 * 4096 + 1, 3 * window + 7, 5 * window}) {
        const Walked small = walk(file, lenfit::ac3_tool, size);
        EXPECT_EQ(small.frames, reference.frames) << size;
        EXPECT_EQ(small.end, reference.end) << size;
    }
}

TEST(Walk, CountingInTwoHalvesAddsWhatOnlyTheLaterHalfHolds) {
    // 44.1 kHz: the damage, the lowest and highest bitrates and the long frames lie well
    // past the middle, where the count of the later half has taken over.
    Bytes file = testkit::ac3_frames(100, [](std::size_t) { return Ac3Header{1, 20}; });
    testkit::append(file, testkit::junk(700, 4));
    testkit::append(file, testkit::ac3_frames(13, [](std::size_t i) {
                        return Ac3Header{1, i < 5 ? 4u : i < 10 ? 37u : 20u};
                    }));
    // The walk helper compares the count in halves with this one.
    const Walked walked = walk(file, lenfit::ac3_tool);
    EXPECT_EQ(walked.summary.frames, 113u);
    EXPECT_EQ(walked.summary.damaged_places, 1u);
    EXPECT_EQ(walked.summary.lowest_bitrate_kbps, 48);
    EXPECT_EQ(walked.summary.highest_bitrate_kbps, 640);
    EXPECT_EQ(walked.summary.long_frames, 5u);
}

// Every answer the walk takes from a known header, for any header that agrees with it
// in its deciding bits, whatever the other bits hold.
void expect_deciding_bits_settle_every_answer(const lenfit::FrameSyntax& syntax, std::uint8_t sync0,
                                              std::uint8_t sync1) {
    std::mt19937_64 random(7);
    Bytes header(8192);  // room for the frame the bitrate is asked of
    unsigned measured = 0;
    for (int tries = 0; tries < 50000; ++tries) {
        const std::uint64_t drawn = random();
        std::memcpy(header.data(), &drawn, 8);
        header[0] = sync0;
        header[1] = static_cast<std::uint8_t>(header[1] | sync1);
        const std::uint32_t length = syntax.frame_length_at(header.data(), 8, 0);
        if (length == 0) continue;
        ++measured;
        const auto answers = [&](const std::uint8_t* h) {
            return std::make_tuple(syntax.frame_length_at(h, 8, 0), syntax.stream_key(h),
                                   syntax.continues_unit != nullptr && syntax.continues_unit(h),
                                   syntax.bitrate_kbps(h, length), syntax.is_long_frame(h));
        };
        const auto expected = answers(header.data());
        const std::uint64_t mask = syntax.deciding_bits(header.data());
        for (int other = 0; other < 8; ++other) {
            const std::uint64_t bits = (lenfit::header_bits(header.data()) & mask) | (random() & ~mask);
            Bytes variant = header;
            std::memcpy(variant.data(), &bits, 8);
            ASSERT_EQ(answers(variant.data()), expected) << std::hex << drawn << " " << bits;
        }
    }
    EXPECT_GT(measured, 2000u);
}

TEST(KnownHeaders, DecidingBitsSettleEveryAnswerAboutAFrame) {
    expect_deciding_bits_settle_every_answer(lenfit::ac3_frame_syntax, 0x0B, 0x77);
    expect_deciding_bits_settle_every_answer(lenfit::layer2_frame_syntax, 0xFF, 0xF0);
}

TEST(KnownHeaders, AHeaderThatBeganALongerUnitIsKnownOnlyByItsOwnFrame) {
    // E-AC-3 units of a 768-byte frame and a dependent frame of 512 bytes, then the same
    // first frame alone, each followed by a 512-byte independent frame: where the header
    // stood for 1280 bytes, it now stands for 768 and the next unit starts there.
    Bytes file;
    for (std::uint32_t i = 0; i < 10; ++i) testkit::append(file, testkit::surround_unit(false, 1, i));
    testkit::Eac3Header short_unit;
    short_unit.frame_bytes = 512;
    for (std::uint32_t i = 10; i < 20; ++i) {
        testkit::append(file, testkit::surround_unit(false, 0, i));
        testkit::append(file, testkit::eac3_frame(short_unit, i));
    }
    const Walked walked = walk(file, lenfit::ac3_tool);
    EXPECT_EQ(walked.frames, frames_of(testkit::split_ac3_units(file)));
    EXPECT_EQ(walked.frames.size(), 30u);
    EXPECT_EQ(walked.summary.damaged_places, 0u);
}

TEST(WalkDeathTest, AFileShorterThanMeasuredIsAReadError) {
    // Cut short by a byte, the mapped last page reads as zeros; by pages, reading them
    // would raise SIGBUS.
    const Bytes file = testkit::ac3_frames(10, Ac3Header{});
    const lenfit::StreamFormat format = lenfit::ac3_stream_format(file.data(), file.size(), 0);
    const std::string path = "stream";
    for (std::int64_t missing : {1, 3 * 4096}) {
        std::FILE* input = testkit::memory_file(file);
        lenfit::FrameWalk frames = lenfit::start_walk(input, path, format, lenfit::ac3_frame_syntax,
                                                      static_cast<std::int64_t>(file.size()) + missing);
        const auto walk_to_the_end = [&] {
            lenfit::WalkStep step;
            while (lenfit::next_frame(frames, step)) {
            }
        };
        EXPECT_EXIT(walk_to_the_end(), ::testing::ExitedWithCode(1), "") << missing;
        // Counted in halves, the second process cannot read its half either: it ends
        // without a word, and the run ends once, with the message.
        lenfit::FrameWalk halves = lenfit::start_walk(input, path, format, lenfit::ac3_frame_syntax,
                                                      static_cast<std::int64_t>(file.size()) + missing);
        const auto count_in_halves = [&] {
            std::fflush(stdout);
            dup2(2, 1);
            lenfit::summarize_stream(halves, 0);
        };
        EXPECT_EXIT(count_in_halves(), ::testing::ExitedWithCode(1), "^Error in reading file stream\n$") << missing;
        std::fclose(input);
    }
}

}  // namespace
