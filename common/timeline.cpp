#include "common/timeline.h"

namespace lenfit {

RegionFill fill_for_region(const DamageStart& start, std::int64_t damaged_bytes, UnitShape unit_after,
                           const FrameSyntax& syntax) {
    const UnitShape before{start.unit_before.data(), start.unit_before.size()};
    RegionFill fill;
    const auto damaged = static_cast<std::uint64_t>(damaged_bytes);
    if (!start.first_frame.empty()) {
        const bool before_alike =
            before.bytes > 0 && syntax.same_shape(before.data, start.first_frame.data());
        fill.shape = before_alike ? before : UnitShape{start.first_frame.data(), start.first_frame.size()};
        fill.units = (damaged + fill.shape.bytes - 1) / fill.shape.bytes;  // rounded up
        return fill;
    }
    fill.shape = before.bytes > 0 ? before : unit_after;
    if (fill.shape.bytes == 0) return fill;
    fill.units = (2 * damaged + fill.shape.bytes) / (2 * fill.shape.bytes);  // to the nearest, halves up
    return fill;
}

Timeline start_timeline(const StreamFormat& format, const FrameSyntax& syntax, std::int64_t file_bytes,
                        bool keep_timeline, std::size_t block_bytes) {
    Timeline timeline;
    timeline.walk = start_walk(format, syntax, file_bytes, block_bytes, keep_timeline);
    return timeline;
}

namespace {

void describe_damage(const FrameWalk& walk, std::int64_t bytes, UnitShape unit_after, Damage& damage) {
    damage.bytes = bytes;
    damage.silent_units = 0;
    damage.silent_unit.clear();
    if (!walk.keep_timeline) return;
    const RegionFill fill = fill_for_region(walk.damage_start, bytes, unit_after, *walk.syntax);
    damage.silent_units = fill.units;
    if (fill.units > 0 && !walk.syntax->silent_unit(fill.shape.data, fill.shape.bytes, damage.silent_unit)) {
        damage.silent_unit.clear();
    }
}

}  // namespace

TimelineStep next_step(Timeline& timeline, Unit& unit, Damage& damage) {
    if (timeline.holding) {
        timeline.holding = false;
        unit = timeline.after_damage;
        return TimelineStep::unit;
    }
    switch (next_unit(timeline.walk, unit)) {
        case WalkStep::needs_bytes:
            return TimelineStep::needs_bytes;
        case WalkStep::end:
            return TimelineStep::end;
        case WalkStep::damage_at_end:
            describe_damage(timeline.walk, unit.damaged_bytes, UnitShape{}, damage);
            return TimelineStep::damage;
        case WalkStep::unit:
            break;
    }
    if (unit.damaged_bytes == 0) return TimelineStep::unit;
    timeline.after_damage = unit;
    timeline.holding = true;
    describe_damage(timeline.walk, unit.damaged_bytes, UnitShape{unit.data, unit.bytes}, damage);
    return TimelineStep::damage;
}

bool read_on(const InputFile& input, Timeline& timeline) { return read_on(input, timeline.walk); }

}  // namespace lenfit
