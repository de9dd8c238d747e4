// The frame schedule and the scaling pass: the stream's units copied once more, every
// n-th unit written twice or left out, the changes spread evenly over the stream.
#pragma once

#include <cstdint>
#include <vector>

#include "common/estimate.h"
#include "common/failure.h"
#include "common/file_io.h"
#include "common/format.h"

namespace lenfit {

enum class FrameFate { once, twice, dropped };

struct FrameSchedule {
    double interval = 0.0;         // > 0 duplicates, otherwise drops
    double next_threshold = 0.0;   // a unit numbered above it is changed
    std::int64_t net_change = 0;   // units written twice minus units dropped
    std::uint64_t units_read = 0;  // number of the last unit read, from 1
};

FrameSchedule start_schedule(const LengthEstimate& estimate);
FrameFate schedule_frame(FrameSchedule& schedule, std::uint64_t unit_number);

// How the output starts: silent units in front of the scheduled ones (a delay), or the
// first scheduled units left out (an advance; a unit written twice counts twice).
struct OutputStart {
    std::vector<std::uint8_t> silent_unit;
    std::uint64_t silent_units = 0;
    std::uint64_t units_left_out = 0;
};

struct PassReport {
    FrameSchedule schedule;
    std::uint64_t units_written = 0;  // silent ones included, left-out ones not
};

// Told, for every place where damage is left out, the number in the timeline of the
// first unit in its place: a silent one, or the unit after it.
using DamageReport = void (*)(std::uint64_t unit_number);

// Writes the start, then copies the stream as it is played (with -k silent units in
// the place of damage, with -e less what is cut and with the silence put in) to the
// output as the schedule says, telling report_damage of every place where damage is
// left out.
Failure run_scaling_pass(const InputFile& input, const OutputFile& output, const StreamFormat& format,
                         const FrameSyntax& syntax, const LengthEstimate& estimate, const OutputStart& start,
                         DamageReport report_damage, PassReport& report, const Playback& playback = {});

}  // namespace lenfit
