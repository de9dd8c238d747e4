#include "common/estimate.h"


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
}

void count_part(WalkSummary& summary, const Part& part) {
    if (part.taken != nullptr) count_unit(summary, *part.taken);
    if (part.data == nullptr) summary.silent_unit_missing = true;
    if (part.written) ++summary.edited_units;
}

}  // namespace

Failure summarize_stream(const InputFile& input, const StreamFormat& format, const FrameSyntax& syntax,
                         std::int64_t file_bytes, WalkSummary& summary, const Playback& playback) {
    EditedStream stream = start_edited_stream(format, syntax, file_bytes, playback);
    summary = WalkSummary{};
    summary.edited = playback.edited;
    Part part;
    for (;;) {
        switch (next_part(stream, part)) {
            case PartKind::unit:
                count_part(summary, part);
                break;
            case PartKind::damage:
                count_damage(summary, *part.damage);
                break;
            case PartKind::needs_bytes:
                if (!read_on(input, stream)) return Failure::reading_input;
                break;
            case PartKind::end:
                summary.end = stream.timeline.walk.end_of_last_unit;
                return Failure::none;
        }
    }
}

std::uint64_t timeline_units(const WalkSummary& walk) { return walk.units + walk.silent_units; }

std::uint64_t edited_units(const WalkSummary& walk) { return walk.edited ? walk.edited_units : timeline_units(walk); }

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
    estimate.original_seconds = stream_seconds(walk, format);
    // The schedule spreads its changes over the stream as the edits leave it.
    estimate.frames_exact = static_cast<double>(edited_units(walk));
    estimate.edited_seconds = estimate.frames_exact * format.frame_seconds;

    // Where the edits leave nothing, there is nothing to fit.
    estimate.has_target = target_seconds != 0.0 && (!walk.edited || edited_units(walk) > 0);
    if (!estimate.has_target) {
        estimate.interval = estimate.frames_exact;
        return estimate;
    }
    estimate.frame_difference = (target_seconds - estimate.edited_seconds) / format.frame_seconds;
    estimate.frames_to_change = static_cast<std::int64_t>(estimate.frame_difference);
    estimate.interval = estimate.frames_exact / estimate.frame_difference;
    return estimate;
}

Failure estimate_length(const InputFile& input, const StreamFormat& format, const FrameSyntax& syntax,
                        const Target& target, LengthEstimate& estimate, const Playback& playback) {
    const std::int64_t file_bytes = input_file_size(input);
    if (file_bytes < 0) return Failure::size_unknown;
    if (file_bytes < static_cast<std::int64_t>(probe_buffer_size)) return Failure::reading_input;
    WalkSummary summary;
    const Failure failure = summarize_stream(input, format, syntax, file_bytes, summary, playback);
    if (failure != Failure::none) return failure;
    const double edited_seconds = static_cast<double>(edited_units(summary)) * format.frame_seconds;
    estimate = compute_length_estimate(file_bytes, summary, target_length(target, edited_seconds), format);
    return Failure::none;
}

bool padding_irregular(const WalkSummary& walk) { return walk.long_units > 0 && walk.long_units < walk.units; }

}  // namespace lenfit
