// The frame schedule and the scaling pass: the stream's units copied once more, every
// n-th unit written twice or left out, the changes spread evenly over the stream.
#pragma once

#include <cstdint>

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

// Told the number of a unit before which the pass left damage out.
using DamageReport = void (*)(std::uint64_t unit_number);

// Copies the stream's units to the output as the schedule says, telling report_damage
// of every place where damage is left out. Afterwards units_read + net_change units were
// written.
Failure run_scaling_pass(const InputFile& input, const OutputFile& output, const StreamFormat& format,
                         const FrameSyntax& syntax, const LengthEstimate& estimate, DamageReport report_damage,
                         FrameSchedule& schedule);

}  // namespace lenfit
