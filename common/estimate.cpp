#include "common/estimate.h"

#include "common/timeline.h"

namespace lenfit {

namespace {

void count_unit(WalkSummary& summary, const Unit& unit) {
    if (summary.units == 0 || unit.bitrate_kbps < summary.lowest_bitrate_kbps) {
        summary.lowest_bitrate_kbps = unit.bitrate_kbps;
    }
    if (summary.units == 0 || unit.bitrate_kbps > summary.highest_bitrate_kbps) {
        summary.highest_bitrate_kbps = unit.bitrate_kbps;
    }
    ++summary.units;
    if (unit.long_frame) ++summary.long_units;
}

void count_damage(WalkSummary& summary, const Damage& damage) {
    summary.damaged_bytes += damage.bytes;
    ++summary.damaged_places;
    summary.silent_units += damage.silent_units;
    if (damage.silent_units > 0 && damage.silent_unit.empty()) summary.silent_unit_missing = true;
}

}  // namespace

Failure summarize_stream(const InputFile& input, const StreamFormat& format, const FrameSyntax& syntax,
                         std::int64_t file_bytes, WalkSummary& summary, bool keep_timeline) {
    Timeline timeline = start_timeline(format, syntax, file_bytes, keep_timeline);
    summary = WalkSummary{};
    Unit unit;
    Damage damage;
    for (;;) {
        switch (next_step(timeline, unit, damage)) {
            case TimelineStep::unit:
                count_unit(summary, unit);
                break;
            case TimelineStep::damage:
                count_damage(summary, damage);
                break;
            case TimelineStep::needs_bytes:
                if (!read_on(input, timeline)) return Failure::reading_input;
                break;
            case TimelineStep::end:
                summary.end = timeline.walk.end_of_last_unit;
                return Failure::none;
        }
    }
}

std::uint64_t timeline_units(const WalkSummary& walk) { return walk.units + walk.silent_units; }

double target_length(const Target& target, double original_seconds) {
    if (target.rate_to == 0.0) return target.seconds;
    return original_seconds * target.rate_from / target.rate_to;
}

double stream_seconds(const WalkSummary& walk, const StreamFormat& format) {
    return static_cast<double>(timeline_units(walk)) * format.frame_seconds;
}

LengthEstimate compute_length_estimate(std::int64_t file_bytes, const WalkSummary& walk,
                                       double target_seconds, const StreamFormat& format) {
    LengthEstimate estimate;
    estimate.file_bytes = file_bytes;
    estimate.walk = walk;
    estimate.trailing_junk = file_bytes - walk.end;
    // Every unit was walked: the count is exact.
    estimate.frame_count = timeline_units(walk);
    estimate.frames_exact = static_cast<double>(estimate.frame_count);
    estimate.original_seconds = stream_seconds(walk, format);

    estimate.has_target = target_seconds != 0.0;
    if (!estimate.has_target) {
        estimate.interval = estimate.frames_exact;
        return estimate;
    }
    estimate.frame_difference = (target_seconds - estimate.original_seconds) / format.frame_seconds;
    estimate.frames_to_change = static_cast<std::int64_t>(estimate.frame_difference);
    estimate.interval = estimate.frames_exact / estimate.frame_difference;
    return estimate;
}

Failure estimate_length(const InputFile& input, const StreamFormat& format, const FrameSyntax& syntax,
                        const Target& target, LengthEstimate& estimate, bool keep_timeline) {
    const std::int64_t file_bytes = input_file_size(input);
    if (file_bytes < 0) return Failure::size_unknown;
    if (file_bytes < static_cast<std::int64_t>(probe_buffer_size)) return Failure::reading_input;
    WalkSummary summary;
    const Failure failure = summarize_stream(input, format, syntax, file_bytes, summary, keep_timeline);
    if (failure != Failure::none) return failure;
    estimate = compute_length_estimate(file_bytes, summary, target_length(target, stream_seconds(summary, format)),
                                       format);
    return Failure::none;
}

bool padding_irregular(const WalkSummary& walk) { return walk.long_units > 0 && walk.long_units < walk.units; }

}  // namespace lenfit
