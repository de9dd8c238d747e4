#include "common/scaling_pass.h"

#include <cmath>
#include <limits>

#include "common/edited_stream.h"

namespace lenfit {

namespace {

// Spans gathered before one write: a run of units written once is one span, a unit
// written twice adds a second.
constexpr std::size_t max_spans = 1024;

// Units are never copied in memory: the pass gathers spans of the walk's buffer and
// writes them before the walk reads on, or when the spans are full.
struct SpanWriter {
    const OutputFile* output = nullptr;
    ByteSpan spans[max_spans];
    std::size_t count = 0;
    std::uint64_t units_to_leave_out = 0;
    std::uint64_t units_written = 0;
};

bool write_gathered(SpanWriter& writer) {
    const bool written = write_output(*writer.output, writer.spans, writer.count);
    writer.count = 0;
    return written;
}

bool add_span(SpanWriter& writer, const std::uint8_t* data, std::size_t size) {
    if (writer.count > 0) {
        ByteSpan& last = writer.spans[writer.count - 1];
        if (last.data + last.size == data) {
            last.size += size;
            return true;
        }
    }
    if (writer.count == max_spans && !write_gathered(writer)) return false;
    writer.spans[writer.count++] = ByteSpan{data, size};
    return true;
}

// Writes one copy of a unit, unless the start leaves it out.
bool write_unit(SpanWriter& writer, const std::uint8_t* data, std::size_t size) {
    if (writer.units_to_leave_out > 0) {
        --writer.units_to_leave_out;
        return true;
    }
    ++writer.units_written;
    return add_span(writer, data, size);
}

// Writes the next unit of the timeline as the schedule says.
bool copy_unit(FrameSchedule& schedule, SpanWriter& writer, const std::uint8_t* data, std::size_t size) {
    switch (schedule_frame(schedule, ++schedule.units_read)) {
        case FrameFate::twice:
            return write_unit(writer, data, size) && write_unit(writer, data, size);
        case FrameFate::once:
            return write_unit(writer, data, size);
        case FrameFate::dropped:
            break;
    }
    return true;
}

// Writes a part of the stream as the schedule says. Silent units are written at once,
// as the next part may put another in their place.
Failure write_part(FrameSchedule& schedule, SpanWriter& writer, const Part& part) {
    if (!part.written) return Failure::none;
    if (part.data == nullptr) return Failure::no_silent_unit;
    if (!copy_unit(schedule, writer, part.data, part.bytes)) return Failure::writing_output;
    if (part.taken == nullptr && !write_gathered(writer)) return Failure::writing_output;
    return Failure::none;
}

bool write_silence(SpanWriter& writer, const OutputStart& start) {
    for (std::uint64_t unit = 0; unit < start.silent_units; ++unit) {
        if (!write_unit(writer, start.silent_unit.data(), start.silent_unit.size())) return false;
    }
    return true;
}

}  // namespace

FrameSchedule start_schedule(const LengthEstimate& estimate) {
    FrameSchedule schedule;
    schedule.interval = estimate.interval;
    // Without a target no unit is changed, however many units the pass copies.
    schedule.next_threshold =
        estimate.has_target ? std::fabs(estimate.interval) : std::numeric_limits<double>::infinity();
    return schedule;
}

FrameFate schedule_frame(FrameSchedule& schedule, std::uint64_t unit_number) {
    if (!(static_cast<double>(unit_number) > schedule.next_threshold)) return FrameFate::once;
    schedule.next_threshold += std::fabs(schedule.interval);
    if (schedule.interval > 0) {
        ++schedule.net_change;
        return FrameFate::twice;
    }
    --schedule.net_change;
    return FrameFate::dropped;
}

Failure run_scaling_pass(const InputFile& input, const OutputFile& output, const StreamFormat& format,
                         const FrameSyntax& syntax, const LengthEstimate& estimate, const OutputStart& start,
                         DamageReport report_damage, PassReport& report, const Playback& playback) {
    FrameSchedule& schedule = report.schedule;
    schedule = start_schedule(estimate);
    SpanWriter writer;
    writer.output = &output;
    writer.units_to_leave_out = start.units_left_out;
    if (!write_silence(writer, start)) return Failure::writing_output;
    EditedStream stream =
        start_edited_stream(format, syntax, estimate.file_bytes, playback, timeline_units(estimate.walk));
    Part part;
    for (;;) {
        const PartKind kind = next_part(stream, part);
        if (kind == PartKind::end) break;
        if (kind == PartKind::needs_bytes) {
            // The spans point into the buffer that reading on refills.
            if (!write_gathered(writer)) return Failure::writing_output;
            if (!read_on(input, stream)) return Failure::reading_input;
        } else if (kind == PartKind::damage) {
            report_damage(part.timeline_number);
        } else {
            const Failure written = write_part(schedule, writer, part);
            if (written != Failure::none) return written;
        }
    }
    report.units_written = writer.units_written;
    return write_gathered(writer) ? Failure::none : Failure::writing_output;
}

}  // namespace lenfit
