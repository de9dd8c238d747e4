// The walk of a stream's units and the loops that read it, on streams built byte by
// byte: which units it takes, what it counts as damage and trailing junk, that where
// the blocks it reads end changes none of it, and what a file cut short does.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "ac3/ac3_format.h"
#include "common/estimate.h"
#include "common/frame_walk.h"
#include "common/scaling_pass.h"
#include "memory_file.h"
#include "mp2/mp2_format.h"
#include "stream_builder.h"

namespace {

using testkit::Ac3Header;
using testkit::Bytes;
using testkit::mp2_header;

struct Taken {
    std::size_t offset;
    std::size_t length;
    std::int64_t damage_before;
    bool operator==(const Taken& other) const = default;
};

struct Walked {
    std::vector<Taken> units;
    lenfit::WalkSummary summary;
};

lenfit::StreamFormat format_of(const Bytes& file, const lenfit::FormatTool& tool) {
    const lenfit::ProbeResult probe =
        lenfit::probe_stream(file.data(), std::min(file.size(), lenfit::probe_buffer_size), 0, tool);
    EXPECT_EQ(probe.failure, lenfit::Failure::none);
    return probe.format;
}

// Every unit the walk takes, reading blocks of block_bytes, and the estimate's count.
Walked walk(const Bytes& file, const lenfit::FormatTool& tool, std::size_t block_bytes = lenfit::read_block_bytes) {
    const lenfit::StreamFormat format = format_of(file, tool);
    lenfit::InputFile input = testkit::memory_input(file);
    const auto size = static_cast<std::int64_t>(file.size());
    lenfit::FrameWalk frames = lenfit::start_walk(format, *tool.syntax, size, block_bytes);
    Walked walked;
    lenfit::Unit unit;
    for (;;) {
        const lenfit::WalkStep step = lenfit::next_unit(frames, unit);
        if (step == lenfit::WalkStep::end) break;
        if (step == lenfit::WalkStep::needs_bytes) {
            EXPECT_TRUE(lenfit::read_on(input, frames));
            continue;
        }
        const auto offset = static_cast<std::size_t>(unit.offset);
        EXPECT_TRUE(std::equal(unit.data, unit.data + unit.bytes, file.begin() + static_cast<long>(offset)));
        walked.units.push_back({offset, unit.bytes, unit.damaged_bytes});
    }
    EXPECT_EQ(lenfit::summarize_stream(input, format, *tool.syntax, size, walked.summary), lenfit::Failure::none);
    EXPECT_EQ(walked.summary.units, walked.units.size());
    lenfit::close_input(input);
    return walked;
}

// Where each unit of a stream of back-to-back units starts, and its length.
std::vector<Taken> units_of(const std::vector<Bytes>& units, std::size_t from = 0) {
    std::vector<Taken> taken;
    for (const Bytes& unit : units) {
        taken.push_back({from, unit.size(), 0});
        from += unit.size();
    }
    return taken;
}

Bytes joined(const std::vector<Bytes>& units) {
    Bytes bytes;
    for (const Bytes& unit : units) testkit::append(bytes, unit);
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
    Bytes file;
    std::vector<Taken> expected;
    for (std::uint32_t i = 0; i < 12; ++i) {
        testkit::append(file, testkit::junk(16, i));
        const Bytes frame = testkit::ac3_frame(ac3_at(i % 2 ? 20 : 30, 7), i);
        expected.push_back({file.size(), frame.size(), i == 0 ? 0 : 16});
        testkit::append(file, frame);
    }
    Bytes tag(128, ' ');
    tag[0] = 'T';
    tag[1] = 'A';
    tag[2] = 'G';
    testkit::append(file, tag);
    const Walked walked = walk(file, lenfit::ac3_tool);
    EXPECT_EQ(walked.units, expected);
    EXPECT_EQ(walked.summary.damaged_bytes, 11 * 16);
    EXPECT_EQ(walked.summary.damaged_places, 11u);
    EXPECT_EQ(walked.summary.end, static_cast<std::int64_t>(file.size() - 128));
}

TEST(Ac3Walk, AFrameThatFailsItsCrcStaysOnlyWhileItsSuccessorConfirmsIt) {
    std::vector<Bytes> frames;
    for (std::uint32_t i = 0; i < 10; ++i) frames.push_back(testkit::ac3_frame(Ac3Header{}, i));
    frames[4][900] ^= 0x04;  // a flipped bit, which a decoder conceals
    EXPECT_EQ(walk(joined(frames), lenfit::ac3_tool).units, units_of(frames));

    // The same frame with junk after it is not vouched for by anything: left out.
    Bytes file = joined(std::vector<Bytes>(frames.begin(), frames.begin() + 5));
    testkit::append(file, testkit::junk(40));
    testkit::append(file, joined(std::vector<Bytes>(frames.begin() + 5, frames.end())));
    std::vector<Taken> expected = units_of(frames);
    expected.erase(expected.begin() + 4);
    for (std::size_t i = 4; i < expected.size(); ++i) expected[i].offset += 40;
    expected[4].damage_before = 1792 + 40;
    EXPECT_EQ(walk(file, lenfit::ac3_tool).units, expected);

    // As the last frame it is taken where it ends the file, and trailing junk where it
    // is cut short.
    const Bytes last = joined(std::vector<Bytes>(frames.begin(), frames.begin() + 5));
    EXPECT_EQ(walk(last, lenfit::ac3_tool).units.size(), 5u);
    Bytes cut = last;
    cut.pop_back();
    EXPECT_EQ(walk(cut, lenfit::ac3_tool).summary.end, 4 * 1792);
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
    std::vector<Taken> expected = units_of(frames);
    expected[4].damage_before = static_cast<std::int64_t>(frames[3].size());
    expected[8].damage_before = 1792;
    expected.erase(expected.begin() + 7);
    expected.erase(expected.begin() + 3);
    const Walked walked = walk(joined(frames), lenfit::ac3_tool);
    EXPECT_EQ(walked.units, expected);
    EXPECT_EQ(walked.summary.damaged_places, 2u);
}

TEST(Eac3Walk, UnitsThatChangeShapeAreEachMeasuredByTheirOwnFrames) {
    // Units of a 768-byte frame and a 512-byte dependent frame, then the same first
    // frame alone, each followed by a 512-byte independent frame.
    Bytes file;
    for (std::uint32_t i = 0; i < 10; ++i) testkit::append(file, testkit::surround_unit(false, 1, i));
    testkit::Eac3Header short_unit;
    short_unit.frame_bytes = 512;
    for (std::uint32_t i = 10; i < 20; ++i) {
        testkit::append(file, testkit::surround_unit(false, 0, i));
        testkit::append(file, testkit::eac3_frame(short_unit, i));
    }
    const Walked walked = walk(file, lenfit::ac3_tool);
    EXPECT_EQ(walked.units, units_of(testkit::split_ac3_units(file)));
    EXPECT_EQ(walked.units.size(), 30u);
    EXPECT_EQ(walked.summary.damaged_places, 0u);
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
    EXPECT_EQ(walked.summary.units, 29u);
    EXPECT_EQ(walked.summary.long_units, 10u);
    EXPECT_EQ(walked.summary.lowest_bitrate_kbps, 192);
    EXPECT_EQ(walked.summary.highest_bitrate_kbps, 384);
    EXPECT_EQ(walked.summary.damaged_bytes, static_cast<std::int64_t>(frames[25].size()));
}

TEST(Walk, WhereTheBlocksEndChangesNothing) {
    // Damage longer than a block, units across every boundary, 7.1 units of two frames
    // longer than the rest of a block or than a whole small block.
    Bytes file = testkit::ac3_frames(30, ac3_at(2, 1));
    testkit::append(file, testkit::junk(40000, 3));
    testkit::append(file, testkit::ac3_frames(70, [](std::size_t i) { return ac3_at(static_cast<unsigned>(i % 38), 7); }));
    for (std::uint32_t i = 0; i < 20; ++i) testkit::append(file, testkit::surround_unit(true, 1, i));
    file[4700] ^= 0x01;  // the frame before the junk fails its CRC
    const Walked reference = walk(file, lenfit::ac3_tool);
    ASSERT_EQ(reference.summary.units, 119u);
    for (std::size_t block : {std::size_t{1}, std::size_t{100}, std::size_t{1791}, std::size_t{4097},
                              lenfit::ac3_frame_syntax.window_bytes + 3}) {
        const Walked blocks = walk(file, lenfit::ac3_tool, block);
        EXPECT_EQ(blocks.units, reference.units) << block;
    }
    // Layer II, whose whole frames with no successor are taken unless a confirmed frame
    // starts inside them.
    Bytes layer2 = testkit::mp2_frames(50, mp2_header(1, 1, 10));
    testkit::append(layer2, testkit::junk(3000, 5));
    testkit::append(layer2, testkit::mp2_frames(50, [](std::size_t i) { return mp2_header(1, 0, 4 + i % 10, i % 2); }));
    const Walked layer2_reference = walk(layer2, lenfit::mp2_tool);
    for (std::size_t block : {std::size_t{1}, std::size_t{577}, std::size_t{5000}}) {
        EXPECT_EQ(walk(layer2, lenfit::mp2_tool, block).units, layer2_reference.units) << block;
    }
}

// The pass on a file in memory, with the numbers of the units before which it reported
// damage.
struct Passed {
    lenfit::Failure failure;
    Bytes written;
    lenfit::PassReport report;
};

std::vector<std::uint64_t> damage_reported;
void note_damage(std::uint64_t unit_number) { damage_reported.push_back(unit_number); }

Passed pass(const Bytes& file, const lenfit::FormatTool& tool, double target_factor,
            std::size_t cut_to = SIZE_MAX, const lenfit::OutputStart& start = {}) {
    const lenfit::StreamFormat format = format_of(file, tool);
    lenfit::InputFile input = testkit::memory_input(file);
    lenfit::LengthEstimate estimate;
    // A target of the stream's length times the factor.
    const lenfit::Target target{0.0, target_factor, 1.0};
    EXPECT_EQ(lenfit::estimate_length(input, format, *tool.syntax, target, estimate), lenfit::Failure::none);
    if (cut_to < file.size()) testkit::shorten_file(input, cut_to);
    lenfit::OutputFile output = testkit::memory_output();
    damage_reported.clear();
    Passed passed;
    passed.failure =
        lenfit::run_scaling_pass(input, output, format, *tool.syntax, estimate, start, note_damage, passed.report);
    passed.written = testkit::written_bytes(output);
    lenfit::close_input(input);
    lenfit::close_output(output);
    return passed;
}

TEST(Pass, WritesTheScheduledUnitsAndReportsDamageByUnitNumber) {
    std::vector<Bytes> frames;
    for (std::uint32_t i = 0; i < 40; ++i) frames.push_back(testkit::ac3_frame(Ac3Header{}, i));
    Bytes file = joined(std::vector<Bytes>(frames.begin(), frames.begin() + 10));
    testkit::append(file, testkit::junk(77, 1));
    testkit::append(file, joined(std::vector<Bytes>(frames.begin() + 10, frames.end())));
    // Ten units longer: every fourth unit twice.
    const Passed longer = pass(file, lenfit::ac3_tool, 1.25);
    ASSERT_EQ(longer.failure, lenfit::Failure::none);
    std::vector<Bytes> expected;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        expected.push_back(frames[i]);
        if ((i + 1) % 4 == 0) expected.push_back(frames[i]);
    }
    EXPECT_EQ(longer.written, joined(expected));
    EXPECT_EQ(longer.report.schedule.units_read, 40u);
    EXPECT_EQ(longer.report.schedule.net_change, 10);
    EXPECT_EQ(damage_reported, std::vector<std::uint64_t>{11});
}

TEST(Pass, MoreChangesThanOneWriteGathersAreWrittenInOrder) {
    // 72-byte Layer II frames, nearly every one written twice: thousands of spans per
    // block, more than one write takes.
    const std::vector<Bytes> frames = testkit::split_mp2_frames(testkit::mp2_frames(30000, mp2_header(0, 2, 1)));
    ASSERT_EQ(frames.front().size(), 72u);
    const Passed passed = pass(joined(frames), lenfit::mp2_tool, 1.9);
    ASSERT_EQ(passed.failure, lenfit::Failure::none);
    const auto changes = testkit::compare_frames(frames, testkit::split_mp2_frames(passed.written));
    ASSERT_TRUE(changes.whole) << changes.problem;
    EXPECT_EQ(changes.duplicated.size(), 27000u);
}

TEST(Pass, AFileCutShortDuringTheRunIsAReadErrorAfterWholeUnits) {
    // Over two blocks of 448 kbit/s AC-3; the file loses its end between the estimate
    // and the pass.
    const Bytes file = testkit::ac3_frames(1500, Ac3Header{});
    const Passed cut = pass(file, lenfit::ac3_tool, 0.0, 1792 * 1000 + 5);
    EXPECT_EQ(cut.failure, lenfit::Failure::reading_input);
    // What was written before is whole units: those of the first block read, which the
    // pass writes before it reads on, and no unit of the lost part.
    ASSERT_EQ(cut.written.size() % 1792, 0u);
    EXPECT_GE(cut.written.size(), 1792u * (lenfit::read_block_bytes / 1792 - 40));
    EXPECT_LE(cut.written.size(), 1792u * 1000);
    EXPECT_TRUE(std::equal(cut.written.begin(), cut.written.end(), file.begin()));
}

TEST(Estimate, AFileShorterThanItsSizeSaidIsAReadError) {
    const Bytes file = testkit::ac3_frames(1500, Ac3Header{});
    const lenfit::StreamFormat format = format_of(file, lenfit::ac3_tool);
    lenfit::InputFile input = testkit::memory_input(file);
    lenfit::WalkSummary summary;
    for (std::int64_t missing : {1, 1 << 20}) {
        EXPECT_EQ(lenfit::summarize_stream(input, format, lenfit::ac3_frame_syntax,
                                           static_cast<std::int64_t>(file.size()) + missing, summary),
                  lenfit::Failure::reading_input)
            << missing;
    }
    lenfit::close_input(input);
}

}  // namespace
