// libFuzzer target: arbitrary bytes as an input file, through the probe, the walk, the
// length estimate and the scaling pass of one format (ac3 when LENFIT_FUZZ_MP2 is not
// defined, Layer II when it is). The target length is chosen by the input's size.
//
// What every run must hold: each unit of the walk (a frame, or an E-AC-3 frame with
// the substream frames that carry it on) starts with a header of the stream and has
// the length its frames' headers give; a walk through blocks of a few units finds
// the same units as the pass's; and the output is exactly those units, in order, each
// written 0, 1 or 2 times as the schedule says (once each without a target), as many
// as the pass reports, after K silent units of the first unit's shape (a delay) or
// less the first K units written (an advance).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/estimate.h"
#include "common/frame_walk.h"
#include "common/probe.h"
#include "common/scaling_pass.h"
#include "memory_file.h"
#include "target_factors.h"
#ifdef LENFIT_FUZZ_MP2
#include "mp2/mp2_format.h"
const lenfit::FormatTool& tool = lenfit::mp2_tool;
#else
#include "ac3/ac3_format.h"
const lenfit::FormatTool& tool = lenfit::ac3_tool;
#endif

namespace {

// Beyond the tests' targets: half and two and a half times the length, and a negative
// target, which drops every unit.
constexpr double extreme_factors[] = {0.5, 2.5, -1.0};

double target_factor(std::size_t size) {
    constexpr std::size_t usual = sizeof testkit::target_factors / sizeof *testkit::target_factors;
    constexpr std::size_t extreme = sizeof extreme_factors / sizeof *extreme_factors;
    const std::size_t pick = size % (usual + extreme);
    return pick < usual ? testkit::target_factors[pick] : extreme_factors[pick - usual];
}

struct Taken {
    std::size_t offset;
    std::size_t length;
};

// The units of the walk, through blocks of one byte up to a few pages, so that a
// unit and its neighbours often straddle two.
std::vector<Taken> walk_units(const std::uint8_t* data, std::size_t size, const lenfit::StreamFormat& format) {
    lenfit::InputFile input = testkit::memory_input(data, size);
    lenfit::FrameWalk walk =
        lenfit::start_walk(format, *tool.syntax, static_cast<std::int64_t>(size), 1 + size % 5 * 4096);
    std::vector<Taken> units;
    std::size_t end = format.first_frame_offset;
    lenfit::Unit unit;
    for (;;) {
        const lenfit::WalkStep step = lenfit::next_unit(walk, unit);
        if (step == lenfit::WalkStep::end) break;
        if (step == lenfit::WalkStep::needs_bytes) {
            if (!lenfit::read_on(input, walk)) std::abort();
            continue;
        }
        const auto offset = static_cast<std::size_t>(unit.offset);
        // In order, not overlapping, and measured by the unit's own headers.
        if (offset < end || offset + unit.bytes > size) std::abort();
        if (std::memcmp(unit.data, data + offset, unit.bytes) != 0) std::abort();
        if (lenfit::unit_bytes(data + offset, size - offset, *tool.syntax, format.stream_key) != unit.bytes) {
            std::abort();
        }
        units.push_back({offset, unit.bytes});
        end = offset + unit.bytes;
    }
    lenfit::close_input(input);
    return units;
}

// What the pass must have written: every unit as the schedule decides.
std::vector<std::uint8_t> scheduled_output(const std::uint8_t* data, const std::vector<Taken>& units,
                                           const lenfit::LengthEstimate& estimate) {
    lenfit::FrameSchedule schedule = lenfit::start_schedule(estimate);
    std::vector<std::uint8_t> expected;
    for (const Taken& unit : units) {
        const lenfit::FrameFate fate = lenfit::schedule_frame(schedule, ++schedule.units_read);
        if (!estimate.has_target && fate != lenfit::FrameFate::once) std::abort();
        const int copies = fate == lenfit::FrameFate::once ? 1 : fate == lenfit::FrameFate::twice ? 2 : 0;
        for (int copy = 0; copy < copies; ++copy) {
            expected.insert(expected.end(), data + unit.offset, data + unit.offset + unit.length);
        }
    }
    return expected;
}

void ignore_damage(std::uint64_t) {}

// A delay or an advance of a few units, chosen by the input's size, with the silent
// unit of the first unit's shape for a delay; nothing where none can be made.
lenfit::OutputStart output_start(std::size_t size, const lenfit::ProbeResult& probe) {
    lenfit::OutputStart start;
    const std::uint64_t units = size / 7 % 4;
    if (size % 2 == 0) {
        start.units_left_out = units;
        return start;
    }
    if (!tool.syntax->silent_unit(probe.first_unit.data(), probe.first_unit.size(), start.silent_unit)) return start;
    // The silent unit has the first unit's length, is one unit of the stream by its own
    // headers, and passes the format's check.
    const std::vector<std::uint8_t>& silent = start.silent_unit;
    if (silent.size() != probe.first_unit.size()) std::abort();
    if (lenfit::unit_bytes(silent.data(), silent.size(), *tool.syntax, probe.format.stream_key) != silent.size()) {
        std::abort();
    }
    if (tool.syntax->unit_check != nullptr && !tool.syntax->unit_check(silent.data(), silent.size())) std::abort();
    start.silent_units = units;
    return start;
}

// The scheduled output with the start applied: silent units in front, or the first
// units left out.
std::vector<std::uint8_t> started_output(const std::vector<std::uint8_t>& scheduled, const lenfit::OutputStart& start,
                                         std::uint32_t stream_key) {
    std::vector<std::uint8_t> expected;
    for (std::uint64_t unit = 0; unit < start.silent_units; ++unit) {
        expected.insert(expected.end(), start.silent_unit.begin(), start.silent_unit.end());
    }
    std::size_t from = 0;
    for (std::uint64_t unit = 0; unit < start.units_left_out && from < scheduled.size(); ++unit) {
        from += lenfit::unit_bytes(scheduled.data() + from, scheduled.size() - from, *tool.syntax, stream_key);
    }
    expected.insert(expected.end(), scheduled.begin() + static_cast<long>(from), scheduled.end());
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    lenfit::InputFile input = testkit::memory_input(data, size);
    const lenfit::ProbeResult probe = lenfit::probe_input(input, tool);
    lenfit::LengthEstimate estimate;
    // Shorter inputs end the run after the description, by design.
    const bool estimated = probe.failure == lenfit::Failure::none &&
                           lenfit::estimate_length(input, probe.format, *tool.syntax,
                                                   lenfit::Target{0.0, target_factor(size), 1.0},
                                                   estimate) == lenfit::Failure::none;
    if (!estimated) {
        if (probe.failure == lenfit::Failure::none && size >= lenfit::probe_buffer_size) std::abort();
        lenfit::close_input(input);
        return 0;
    }
    const std::vector<Taken> units = walk_units(data, size, probe.format);
    if (estimate.frame_count != units.size()) std::abort();

    lenfit::OutputFile output = testkit::memory_output();
    const lenfit::OutputStart start = output_start(size, probe);
    lenfit::PassReport report;
    if (lenfit::run_scaling_pass(input, output, probe.format, *tool.syntax, estimate, start, ignore_damage, report) !=
        lenfit::Failure::none) {
        std::abort();
    }
    const lenfit::FrameSchedule& schedule = report.schedule;
    const std::vector<std::uint8_t> written = testkit::written_bytes(output);
    lenfit::close_input(input);
    lenfit::close_output(output);

    if (schedule.units_read != units.size()) std::abort();
    if (written != started_output(scheduled_output(data, units, estimate), start, probe.format.stream_key)) {
        std::abort();
    }
    // The report's count: every unit written, each copy once.
    std::size_t copies = 0;
    for (std::size_t at = 0; at < written.size(); ++copies) {
        const std::uint32_t unit =
            lenfit::unit_bytes(written.data() + at, written.size() - at, *tool.syntax, probe.format.stream_key);
        if (unit == 0) std::abort();
        at += unit;
    }
    if (copies != report.units_written) std::abort();
    const std::int64_t scheduled_units = static_cast<std::int64_t>(schedule.units_read) + schedule.net_change;
    const std::int64_t left_out = std::min<std::int64_t>(static_cast<std::int64_t>(start.units_left_out), scheduled_units);
    if (static_cast<std::int64_t>(copies) !=
        scheduled_units - left_out + static_cast<std::int64_t>(start.silent_units)) {
        std::abort();
    }
    return 0;
}
