// The timeline a run keeps with -k: which regions of damage get silent units, how many
// and of which unit's shape (junk's rounding: the damaged families), and that where the
// blocks end changes none of it. What the
// pass writes of it: the tool, edit and damaged-family tests and the fuzz targets.
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "ac3/ac3_format.h"
#include "common/timeline.h"
#include "memory_file.h"
#include "stream_builder.h"

namespace {

using testkit::Ac3Header;
using testkit::Bytes;

// ---- the rule, on its own
lenfit::DamageStart damage_start(const Bytes& unit_before, const Bytes& first_frame) {
    return lenfit::DamageStart{unit_before, first_frame};
}

Bytes shape_of(const lenfit::RegionFill& fill) { return Bytes(fill.shape.data, fill.shape.data + fill.shape.bytes); }

TEST(RegionFill, AUnitThatStartsTheRegionIsCoveredWholeInTheShapeOfItsKind) {
    const lenfit::FrameSyntax& syntax = lenfit::ac3_frame_syntax;
    const Bytes before = testkit::ac3_frame(Ac3Header{}, 1);  // 1792 bytes, 3/2
    const Bytes alike = testkit::ac3_frame(Ac3Header{}, 2);
    // A loss inside one frame gives 1, across a boundary 2, a whole frame 1.
    for (const auto& [damaged, units] : std::vector<std::pair<std::int64_t, std::uint64_t>>{
             {1792 - 184, 1}, {1, 1}, {1792, 1}, {1793, 2}, {2 * 1792 - 552, 2}}) {
        const lenfit::DamageStart start = damage_start(before, alike);
        const lenfit::RegionFill fill = lenfit::fill_for_region(start, damaged, {}, syntax);
        EXPECT_EQ(fill.units, units) << damaged;
        EXPECT_EQ(shape_of(fill), before) << damaged;
    }
    // A hole in the 5.1 part of a stream that switches from 2.0: 5.1 silence, as long
    // as the 5.1 frame says.
    Ac3Header stereo;
    stereo.acmod = 2;
    stereo.frmsizecod = 20;  // 768 bytes
    const lenfit::DamageStart after_stereo = damage_start(testkit::ac3_frame(stereo, 1), alike);
    const lenfit::RegionFill switched = lenfit::fill_for_region(after_stereo, 1000, {}, syntax);
    EXPECT_EQ(switched.units, 1u);
    EXPECT_EQ(shape_of(switched), alike);
    // Nothing taken before it: the frame itself.
    const lenfit::DamageStart first = damage_start({}, alike);
    EXPECT_EQ(shape_of(lenfit::fill_for_region(first, 1000, {}, syntax)), alike);
}

// ---- the timeline of a file
struct Step {
    std::int64_t offset_or_damage;  // a unit's offset, or a region's bytes (negated)
    std::uint64_t silent_units;
    Bytes silent_unit;
    bool operator==(const Step& other) const = default;
};

void PrintTo(const Step& step, std::ostream* out) {
    *out << "{" << step.offset_or_damage << ", " << step.silent_units << ", " << step.silent_unit.size() << " bytes}";
}

struct Played {
    std::vector<Step> steps;
};

Played play(const Bytes& file, const lenfit::FormatTool& tool, bool keep, std::size_t block_bytes = 1 << 20) {
    const lenfit::ProbeResult probe = lenfit::probe_stream(file.data(), std::min(file.size(), lenfit::probe_buffer_size), 0, tool);
    EXPECT_EQ(probe.failure, lenfit::Failure::none);
    lenfit::InputFile input = testkit::memory_input(file);
    lenfit::Timeline timeline =
        lenfit::start_timeline(probe.format, *tool.syntax, static_cast<std::int64_t>(file.size()), keep, block_bytes);
    Played played;
    lenfit::Unit unit;
    lenfit::Damage damage;
    for (;;) {
        const lenfit::TimelineStep step = lenfit::next_step(timeline, unit, damage);
        if (step == lenfit::TimelineStep::end) break;
        if (step == lenfit::TimelineStep::needs_bytes) {
            EXPECT_TRUE(lenfit::read_on(input, timeline));
        } else if (step == lenfit::TimelineStep::unit) {
            played.steps.push_back({unit.offset, 0, {}});
        } else {
            played.steps.push_back({-damage.bytes, damage.silent_units, damage.silent_unit});
        }
    }
    lenfit::close_input(input);
    return played;
}

Bytes silent(const Bytes& shape) {
    Bytes unit;
    EXPECT_TRUE(lenfit::ac3_silent_unit(shape.data(), shape.size(), unit));
    return unit;
}

TEST(Timeline, KeptDamageIsFilledAndTheWalkGoesOnAfterAFrameThatFailsItsCrc) {
    std::vector<Bytes> frames;
    for (std::uint32_t i = 0; i < 20; ++i) frames.push_back(testkit::ac3_frame(Ac3Header{}, i));
    frames[3][900] ^= 0x04;   // fails its CRC, its successor confirms it
    frames[19][900] ^= 0x04;  // the last frame, which ends the file
    Bytes file;
    std::vector<Step> kept;
    const auto unit = [&](std::size_t i) {
        kept.push_back({static_cast<std::int64_t>(file.size()), 0, {}});
        testkit::append(file, frames[i]);
    };
    for (std::size_t i = 0; i < 3; ++i) unit(i);
    kept.push_back({-1792, 1, silent(frames[2])});
    testkit::append(file, frames[3]);
    for (std::size_t i = 4; i < 8; ++i) unit(i);
    // 368 bytes lost inside frame 8: 1 silent unit; 552 across 11 and 12: 2.
    kept.push_back({-(1792 - 368), 1, silent(frames[7])});
    testkit::append(file, Bytes(frames[8].begin(), frames[8].begin() + 200));
    testkit::append(file, Bytes(frames[8].begin() + 568, frames[8].end()));
    for (std::size_t i = 9; i < 11; ++i) unit(i);
    kept.push_back({-(2 * 1792 - 552), 2, silent(frames[10])});
    testkit::append(file, Bytes(frames[11].begin(), frames[11].end() - 100));
    testkit::append(file, Bytes(frames[12].begin() + 452, frames[12].end()));
    unit(13);
    // Junk: 40 bytes give none, 1000 bytes one.
    kept.push_back({-40, 0, {}});
    testkit::append(file, testkit::junk(40, 1));
    unit(14);
    kept.push_back({-1000, 1, silent(frames[14])});
    testkit::append(file, testkit::junk(1000, 2));
    for (std::size_t i = 15; i < 19; ++i) unit(i);
    kept.push_back({-1792, 1, silent(frames[18])});
    testkit::append(file, frames[19]);

    const Played reference = play(file, lenfit::ac3_tool, true);
    EXPECT_EQ(reference.steps, kept);  // the failed last frame is damage, not junk
    for (std::size_t block : {std::size_t{1}, std::size_t{100}, std::size_t{1791}, std::size_t{4097}}) {
        EXPECT_EQ(play(file, lenfit::ac3_tool, true, block).steps, kept) << block;
    }
}

}  // namespace
