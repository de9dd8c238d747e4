// The length estimate: a walk of the whole stream gives the junk before and after it,
// the damage left out, its length in seconds and units, and how many units a target
// length asks to insert or drop. The report calls a unit a frame.
#pragma once

#include <cstdint>

#include "common/edited_stream.h"
#include "common/failure.h"
#include "common/file_io.h"
#include "common/format.h"

namespace lenfit {

// What a walk of the whole stream found.
struct WalkSummary {
    std::uint64_t units = 0;          // units taken
    std::int64_t end = 0;             // offset just past the last unit taken, or its damage after it
    std::int64_t damaged_bytes = 0;   // bytes left out between units
    std::uint64_t damaged_places = 0;
    std::uint64_t silent_units = 0;   // in the place of the damage, when the timeline is kept
    bool silent_unit_missing = false; // some silent unit's shape cannot hold one
    bool edited = false;              // an edit list was given
    std::uint64_t edited_units = 0;   // what the edits leave of the timeline, with what they put in
    std::int32_t lowest_bitrate_kbps = 0;
    std::int32_t highest_bitrate_kbps = 0;
    std::uint64_t long_units = 0;     // units whose first header announces the longer length
};

struct LengthEstimate {
    std::int64_t file_bytes = 0;
    std::int64_t trailing_junk = 0;
    WalkSummary walk;
    double frames_exact = 0.0;         // the units the schedule spreads its changes over
    std::uint64_t frame_count = 0;     // the timeline's units
    double original_seconds = 0.0;
    double edited_seconds = 0.0;       // of the stream as the edits leave it
    bool has_target = false;
    double frame_difference = 0.0;     // with a target: units to add (< 0: to drop)
    std::int64_t frames_to_change = 0; // frame_difference truncated
    double interval = 0.0;             // input units per change; > 0 duplicates
};

// The length a run asks for: `seconds`, or where rate_to is not 0, the stream's own
// length x rate_from / rate_to (a change of frame rate). 0 seconds: no target.
struct Target {
    double seconds = 0.0;
    double rate_from = 0.0;
    double rate_to = 0.0;
};
double target_length(const Target& target, double original_seconds);

// Counts the units of the stream of a file of file_bytes, the silent units that take
// the place of its damage (-k), and what the edits leave (-e).
Failure summarize_stream(const InputFile& input, const StreamFormat& format, const FrameSyntax& syntax,
                         std::int64_t file_bytes, WalkSummary& summary, const Playback& playback = {});
// Units of the stream's timeline: those taken, and silent ones.
std::uint64_t timeline_units(const WalkSummary& walk);
// Units of the stream as the edits leave it: the timeline's where there are none.
std::uint64_t edited_units(const WalkSummary& walk);
// Playing time of the units a walk counted.
double stream_seconds(const WalkSummary& walk, const StreamFormat& format);
LengthEstimate compute_length_estimate(std::int64_t file_bytes, const WalkSummary& walk,
                                       double target_seconds, const StreamFormat& format);
// The input's size, a walk of its stream and the estimate from them.
Failure estimate_length(const InputFile& input, const StreamFormat& format, const FrameSyntax& syntax,
                        const Target& target, LengthEstimate& estimate, const Playback& playback = {});
// Whether the units mix the format's two lengths where its rate does not ask for it
// (Layer II frames padded and unpadded at 48 and 32 kHz).
bool padding_irregular(const WalkSummary& walk);

}  // namespace lenfit
