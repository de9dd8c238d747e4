// libFuzzer target: arbitrary bytes as an input file, through the probe, the walk, the
// length estimate and the scaling pass of one format (LENFIT_FUZZ_TOOL, whose header is
// LENFIT_FUZZ_HEADER). The target length is chosen by the input's size.
//
// What every run must hold, with or without -k (one input in two) and an edit list
// (two in three): each unit of the walk (a frame, or an E-AC-3 frame or DTS core frame
// with the frames that carry it on) starts with a header of the stream and has the
// length its frames' headers give, and with -k passes the format's check; every byte
// is leading junk, a unit, damage or trailing junk; each silent unit in the place of
// damage is one whole unit of the stream that passes the check; a timeline through
// blocks of a few units holds what the estimate counted; the edits leave of it what an
// account of the timeline on its own says; and the output is exactly those units, in
// order, each written 0, 1 or 2 times as the schedule says (once each without a
// target), as many as the pass reports, after K silent units of the first unit's shape
// (a delay) or less the first K units written (an advance).
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
#include "common/timeline.h"
#include "memory_file.h"
#include "target_factors.h"
#include LENFIT_FUZZ_HEADER
const lenfit::FormatTool& tool = lenfit::LENFIT_FUZZ_TOOL;

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

// A unit of the timeline: bytes of the input, or of the silent units made.
struct Piece {
    bool silent;
    std::size_t offset;
    std::size_t length;
};

// The timeline of the input: the units the walk takes and, where it is kept, the
// silent units in the place of damage.
struct Played {
    std::vector<Piece> units;
    std::vector<std::uint8_t> silent_bytes;  // each silent unit made, once
    std::uint64_t silent_units = 0;
    std::int64_t accounted = 0;  // bytes of units taken and of damage
    bool missing = false;        // a silent unit that cannot be made in its shape
};

// Whether bytes are one unit of the stream by their own headers, passing the format's
// check where a kept timeline checks every unit.
bool whole_unit(const std::uint8_t* bytes, std::size_t size, std::uint32_t stream_key, bool checked) {
    if (lenfit::unit_bytes(bytes, size, *tool.syntax, stream_key) != size) return false;
    return !checked || tool.syntax->unit_check == nullptr || tool.syntax->unit_check(bytes, size);
}

// The timeline, through blocks of one byte up to a few pages, so that a unit and its
// neighbours often straddle two.
Played play(const lenfit::InputFile& input, const std::uint8_t* data, std::size_t size,
            const lenfit::StreamFormat& format, bool keep) {
    lenfit::Timeline timeline =
        lenfit::start_timeline(format, *tool.syntax, static_cast<std::int64_t>(size), keep, 1 + size % 5 * 4096);
    Played played;
    std::size_t end = format.first_frame_offset;
    lenfit::Unit unit;
    lenfit::Damage damage;
    for (;;) {
        const lenfit::TimelineStep step = lenfit::next_step(timeline, unit, damage);
        if (step == lenfit::TimelineStep::end) break;
        if (step == lenfit::TimelineStep::needs_bytes) {
            if (!lenfit::read_on(input, timeline)) std::abort();
            continue;
        }
        if (step == lenfit::TimelineStep::damage) {
            if (damage.bytes <= 0 || (!keep && damage.silent_units != 0)) std::abort();
            played.accounted += damage.bytes;
            played.silent_units += damage.silent_units;
            const std::vector<std::uint8_t>& silent = damage.silent_unit;
            if (damage.silent_units > 0 && silent.empty()) played.missing = true;
            if (!silent.empty() && !whole_unit(silent.data(), silent.size(), format.stream_key, true)) std::abort();
            const Piece piece{true, played.silent_bytes.size(), silent.size()};
            played.silent_bytes.insert(played.silent_bytes.end(), silent.begin(), silent.end());
            played.units.insert(played.units.end(), damage.silent_units, piece);
            continue;
        }
        const auto offset = static_cast<std::size_t>(unit.offset);
        // In order, not overlapping, and measured by the unit's own headers.
        if (offset < end || offset + unit.bytes > size) std::abort();
        if (std::memcmp(unit.data, data + offset, unit.bytes) != 0) std::abort();
        if (!whole_unit(data + offset, unit.bytes, format.stream_key, keep)) std::abort();
        played.units.push_back({false, offset, unit.bytes});
        played.accounted += unit.bytes;
        end = offset + unit.bytes;
    }
    return played;
}

// An edit list, chosen by the input's size: none for one input in three; otherwise
// silence at a boundary near the start, a cut after it (to the end for one in four),
// and silence past the end.
std::vector<lenfit::UnitEdit> edits_for(std::size_t size) {
    if (size % 3 == 0) return {};
    const std::uint64_t at = size / 5 % 6;
    const std::uint64_t from = at + size / 11 % 4;
    const bool to_end = size % 4 == 1;
    std::vector<lenfit::UnitEdit> edits = {{false, at, at, size / 7 % 3},
                                           {true, from, to_end ? lenfit::stream_end : from + size / 13 % 20, 0}};
    if (!to_end) edits.push_back({false, 1000000, 1000000, 1});
    return edits;
}

const std::uint8_t* piece_bytes(const std::uint8_t* data, const Played& played, const Piece& piece) {
    return (piece.silent ? played.silent_bytes.data() : data) + piece.offset;
}

// The timeline as the edits leave it, worked out on its own: each insertion's silence
// at its boundary (at most the end) in the shape of the unit before it (before the
// first unit, of that one), and every unit no cut covers.
Played edited(const std::uint8_t* data, const Played& timeline, const std::vector<lenfit::UnitEdit>& edits) {
    Played result = timeline;
    result.units.clear();
    const std::uint64_t count = timeline.units.size();
    const auto boundary = [count](std::uint64_t units) { return std::min(units, count); };
    for (std::uint64_t t = 0; t <= count; ++t) {
        for (const lenfit::UnitEdit& edit : edits) {
            if (edit.cut || boundary(edit.first) != t || edit.silent_units == 0) continue;
            std::vector<std::uint8_t> silent;
            const Piece* shape = count == 0 ? nullptr : &timeline.units[t == 0 ? 0 : t - 1];
            if (shape == nullptr ||
                !tool.syntax->silent_unit(piece_bytes(data, timeline, *shape), shape->length, silent)) {
                result.missing = true;
                continue;
            }
            const Piece piece{true, result.silent_bytes.size(), silent.size()};
            result.silent_bytes.insert(result.silent_bytes.end(), silent.begin(), silent.end());
            result.units.insert(result.units.end(), edit.silent_units, piece);
        }
        if (t == count) break;
        const bool cut = std::any_of(edits.begin(), edits.end(), [&](const lenfit::UnitEdit& edit) {
            return edit.cut && boundary(edit.first) <= t && t < boundary(edit.end);
        });
        if (!cut) result.units.push_back(timeline.units[t]);
    }
    return result;
}

// What the pass must have written: every unit as the schedule decides.
std::vector<std::uint8_t> scheduled_output(const std::uint8_t* data, const Played& played,
                                           const lenfit::LengthEstimate& estimate) {
    lenfit::FrameSchedule schedule = lenfit::start_schedule(estimate);
    std::vector<std::uint8_t> expected;
    for (const Piece& unit : played.units) {
        const lenfit::FrameFate fate = lenfit::schedule_frame(schedule, ++schedule.units_read);
        if (!estimate.has_target && fate != lenfit::FrameFate::once) std::abort();
        const int copies = fate == lenfit::FrameFate::once ? 1 : fate == lenfit::FrameFate::twice ? 2 : 0;
        const std::uint8_t* bytes = piece_bytes(data, played, unit);
        for (int copy = 0; copy < copies; ++copy) expected.insert(expected.end(), bytes, bytes + unit.length);
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
    // The silent unit has the first unit's shape and at most its length (a DTS core
    // frame stands for its whole unit), is one unit of the stream by its own headers, and
    // passes the format's check.
    const std::vector<std::uint8_t>& silent = start.silent_unit;
    if (silent.size() > probe.first_unit.size() || !tool.syntax->same_shape(silent.data(), probe.first_unit.data())) {
        std::abort();
    }
    if (!whole_unit(silent.data(), silent.size(), probe.format.stream_key, true)) std::abort();
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
    // -k for one input in two, and the edits, chosen by its size as the target is.
    const bool keep = size / 3 % 2 == 1;
    const std::vector<lenfit::UnitEdit> edits = edits_for(size);
    const lenfit::Playback playback{keep, !edits.empty(), edits};
    lenfit::LengthEstimate estimate;
    // Shorter inputs end the run after the description, by design.
    const bool estimated = probe.failure == lenfit::Failure::none &&
                           lenfit::estimate_length(input, probe.format, *tool.syntax,
                                                   lenfit::Target{0.0, target_factor(size), 1.0}, estimate,
                                                   playback) == lenfit::Failure::none;
    if (!estimated) {
        if (probe.failure == lenfit::Failure::none && size >= lenfit::probe_buffer_size) std::abort();
        lenfit::close_input(input);
        return 0;
    }
    const Played timeline = play(input, data, size, probe.format, keep);
    // Every byte is leading junk, a unit, damage or trailing junk.
    if (probe.format.first_frame_offset + timeline.accounted + estimate.trailing_junk !=
        static_cast<std::int64_t>(size)) {
        std::abort();
    }
    if (timeline.silent_units != estimate.walk.silent_units) std::abort();
    if (estimate.frame_count != timeline.units.size()) std::abort();
    const Played played = edited(data, timeline, edits);
    if (played.missing != estimate.walk.silent_unit_missing) std::abort();
    if (played.missing) {
        // The run refuses before it writes anything.
        lenfit::close_input(input);
        return 0;
    }
    if (lenfit::edited_units(estimate.walk) != played.units.size()) std::abort();

    lenfit::OutputFile output = testkit::memory_output();
    const lenfit::OutputStart start = output_start(size, probe);
    lenfit::PassReport report;
    if (lenfit::run_scaling_pass(input, output, probe.format, *tool.syntax, estimate, start, ignore_damage, report,
                                 playback) != lenfit::Failure::none) {
        std::abort();
    }
    const lenfit::FrameSchedule& schedule = report.schedule;
    const std::vector<std::uint8_t> written = testkit::written_bytes(output);
    lenfit::close_input(input);
    lenfit::close_output(output);

    if (schedule.units_read != played.units.size()) std::abort();
    if (written != started_output(scheduled_output(data, played, estimate), start, probe.format.stream_key)) std::abort();
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
