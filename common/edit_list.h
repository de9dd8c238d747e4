// An edit list (-e): cuts out of the stream and silences put into it, each edit point
// rounded on its own to the nearest unit boundary, so that no rounding adds up.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

namespace lenfit {

// One item as typed, in seconds on the stream's timeline.
struct EditItem {
    bool cut = true;       // a cut from `at` to `end`; otherwise `seconds` of silence put in at `at`
    double at = 0.0;
    double end = 0.0;      // a cut's end; infinity: to the end of the stream
    double seconds = 0.0;  // the silence's length
};
using EditList = std::vector<EditItem>;

// The unit boundary nearest a time: floor(seconds / frame_seconds + 0.5).
std::uint64_t unit_boundary(double seconds, double frame_seconds);

constexpr std::uint64_t stream_end = std::numeric_limits<std::uint64_t>::max();

// An item in units: a cut leaves out the units from `first` to before `end`; an
// insertion puts `silent_units` silent units in at boundary `first`. Boundaries past
// the stream's last unit stand for its end.
struct UnitEdit {
    bool cut = true;
    std::uint64_t first = 0;
    std::uint64_t end = 0;  // stream_end: to the end
    std::uint64_t silent_units = 0;
};
std::vector<UnitEdit> edits_in_units(const EditList& list, double frame_seconds);

}  // namespace lenfit
