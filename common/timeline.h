// The stream's timeline: the units the walk takes and, when the timeline is kept (-k),
// silent units in the place of each region of damage, so that what follows plays when
// it did. The edited stream steps through it for the estimate and the pass alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/file_io.h"
#include "common/format.h"
#include "common/frame_walk.h"

namespace lenfit {

// The bytes of the unit a region's silent units are shaped after.
struct UnitShape {
    const std::uint8_t* data = nullptr;
    std::size_t bytes = 0;
};

// How many silent units take the place of a region of `damaged_bytes` that began as
// `start` says, and of which unit's shape (`unit_after`: the unit taken right after
// the region, if any):
// - where a unit of the stream starts the region, its rest lost or damaged: as many as
//   it takes to cover the region, of the shape of the unit before when that unit's
//   first frame has the shape of the one that starts the region, else of that frame;
// - otherwise (junk, a frame whose head was lost): the nearest whole number, of the
//   shape of the unit before, or after where none was taken before.
struct RegionFill {
    std::uint64_t units = 0;
    UnitShape shape;
};
RegionFill fill_for_region(const DamageStart& start, std::int64_t damaged_bytes, UnitShape unit_after,
                           const FrameSyntax& syntax);

// A region of damage the walk left out, and the silent units that take its place.
struct Damage {
    std::int64_t bytes = 0;
    std::uint64_t silent_units = 0;  // 0 unless the timeline is kept
    // One of them, when there are any; empty where the format cannot make one of the
    // region's shape.
    std::vector<std::uint8_t> silent_unit;
};

enum class TimelineStep {
    unit,         // a unit taken
    damage,       // a region of damage, before the unit that follows it or the end
    needs_bytes,  // call read_on, then step again
    end,
};

struct Timeline {
    FrameWalk walk;
    Unit after_damage;  // the unit a damage step came before, which the next step gives
    bool holding = false;
};

Timeline start_timeline(const StreamFormat& format, const FrameSyntax& syntax, std::int64_t file_bytes,
                        bool keep_timeline, std::size_t block_bytes = read_block_bytes);
TimelineStep next_step(Timeline& timeline, Unit& unit, Damage& damage);
// Keeps what the timeline still needs and reads the next block; false as read_on is.
bool read_on(const InputFile& input, Timeline& timeline);

}  // namespace lenfit
