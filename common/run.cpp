// The run sequence of the tools: command line, open, probe, estimate and, when an
// output file is named, the scaling pass. Everything the tools print is printed here
// (the usage text aside), and every failure becomes its message and exit status here.
#include "common/run.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/command_line.h"
#include "common/duration.h"
#include "common/estimate.h"
#include "common/file_io.h"
#include "common/probe.h"
#include "common/scaling_pass.h"

namespace lenfit {

namespace {

constexpr int status_ok = 0;
constexpr int status_failed = 1;

// Prints the failure's message, with the path of the file concerned, and gives the
// exit status of a failed run.
int report_failure(Failure failure, const RunOptions& options, const FormatTool& tool) {
    const char* input = options.input_path.c_str();
    const char* output = options.output_path.c_str();
    switch (failure) {
        case Failure::none:
            return status_ok;
        case Failure::input_not_opened:
            std::printf("File %s could not be opened\n", input);
            break;
        case Failure::output_not_opened:
            std::printf("File %s could not be opened\n", output);
            break;
        case Failure::output_is_input:
            std::printf("File %s is the input file and cannot be overwritten\n", output);
            break;
        case Failure::not_this_format:
            std::printf(tool.not_this_format, input);
            break;
        case Failure::refused:
            std::printf(tool.refusal, input);
            break;
        case Failure::size_unknown:
            std::printf("Error in determining the size of file %s\n", input);
            break;
        case Failure::reading_input:
            std::printf("Error in reading file %s\n", input);
            break;
        case Failure::writing_output:
            std::printf("Error in writing file %s\n", output);
            break;
        case Failure::no_silent_unit:
            std::puts("Silent frames of this stream's shape cannot be made.");
            break;
    }
    return status_failed;
}

Target target_of(const RunOptions& options) {
    if (options.rate) return Target{0.0, options.rate->from, options.rate->to};
    return Target{options.target_seconds.value_or(0.0), 0.0, 0.0};
}

// One line per edit, as the stream's units place it, then the length the edits leave.
void print_edits(const RunOptions& options, const LengthEstimate& estimate, const StreamFormat& format) {
    if (!options.edits) return;
    const double unit_seconds = format.frame_seconds;
    const std::uint64_t units = estimate.frame_count;
    const auto at = [&](std::uint64_t boundary) {
        return format_duration(static_cast<double>(std::min(boundary, units)) * unit_seconds);
    };
    const std::vector<UnitEdit> edits = edits_in_units(*options.edits, unit_seconds);
    for (std::size_t i = 0; i < edits.size(); ++i) {
        const UnitEdit& edit = edits[i];
        if (edit.cut) {
            const std::uint64_t left_out = std::min(edit.end, units) - std::min(edit.first, units);
            std::printf("Cut from %s to %s leaves out %" PRIu64 " frame(s).\n", at(edit.first).c_str(),
                        at(edit.end).c_str(), left_out);
        } else {
            std::printf("Silence of %g seconds at %s is %" PRIu64 " silent frame(s).\n", (*options.edits)[i].seconds,
                        at(edit.first).c_str(), edit.silent_units);
        }
    }
    std::printf("Edited length is %g seconds, or %s, in %" PRIu64 " frames.\n", estimate.edited_seconds,
                format_duration(estimate.edited_seconds).c_str(), edited_units(estimate.walk));
}

void print_length_report(const LengthEstimate& estimate, const StreamFormat& format, const FormatTool& tool,
                         const RunOptions& options) {
    const WalkSummary& walk = estimate.walk;
    std::printf("Found %" PRIu32 " leading and %" PRId64 " trailing junk bytes.\n", format.first_frame_offset,
                estimate.trailing_junk);
    if (walk.damaged_places > 0 && options.keep_timeline) {
        std::printf("Found %" PRId64 " damaged bytes in %" PRIu64 " place(s); %" PRIu64
                    " silent frame(s) take their place.\n",
                    walk.damaged_bytes, walk.damaged_places, walk.silent_units);
    } else if (walk.damaged_places > 0) {
        std::printf("Found %" PRId64 " damaged bytes in %" PRIu64 " place(s); they are left out.\n",
                    walk.damaged_bytes, walk.damaged_places);
    }
    std::printf("Original length of audio is %g seconds, or %s, in %" PRIu64 " frames\n", estimate.original_seconds,
                format_duration(estimate.original_seconds).c_str(), estimate.frame_count);
    if (tool.irregular_long_frames != nullptr && padding_irregular(walk)) {
        std::fputs(tool.irregular_long_frames, stdout);
    }
    if (walk.lowest_bitrate_kbps != walk.highest_bitrate_kbps) {
        std::printf("Bitrate varies from %" PRId32 " to %" PRId32 " kbps.\n", walk.lowest_bitrate_kbps,
                    walk.highest_bitrate_kbps);
    }
    print_edits(options, estimate, format);
    // Where the edits leave nothing, there is nothing to fit.
    if (options.rate && (!walk.edited || edited_units(walk) > 0)) {
        const double target = target_length(target_of(options), estimate.edited_seconds);
        std::printf("Target length is %g seconds, or %s.\n", target, format_duration(target).c_str());
    }
    if (estimate.has_target) {
        std::printf("Approximately %lld frames need to be ", std::llabs(static_cast<long long>(estimate.frames_to_change)));
        std::puts(estimate.frame_difference > 0 ? "inserted." : "dropped.");
    }
}

// Units a delay puts in front or leaves out: the nearest whole number of units, halves
// up.
std::uint64_t delay_units(double delay_ms, double frame_seconds) {
    return static_cast<std::uint64_t>(std::floor(std::fabs(delay_ms) / (1000.0 * frame_seconds) + 0.5));
}

void print_delay(double delay_ms, const StreamFormat& format) {
    if (delay_ms == 0.0) return;
    const std::uint64_t units = delay_units(delay_ms, format.frame_seconds);
    const double shift_ms = (static_cast<double>(units) * format.frame_seconds) * 1000.0;
    if (units == 0) {
        std::printf("Delay of %g ms is less than half a frame; the start stays as it is.\n", delay_ms);
    } else if (delay_ms > 0) {
        std::printf("Delay of %g ms is %" PRIu64 " silent frame(s) at the start, or %g ms.\n", delay_ms, units,
                    shift_ms);
    } else {
        std::printf("Advance of %g ms is %" PRIu64 " frame(s) left out at the start, or %g ms.\n", -delay_ms,
                    units, shift_ms);
    }
}

// Silence in front for a delay, units left out for an advance.
Failure output_start(double delay_ms, const ProbeResult& probe, const FormatTool& tool, OutputStart& start) {
    const std::uint64_t units = delay_units(delay_ms, probe.format.frame_seconds);
    if (units == 0) return Failure::none;
    if (delay_ms < 0) {
        start.units_left_out = units;
        return Failure::none;
    }
    start.silent_units = units;
    const bool made = tool.syntax->silent_unit(probe.first_unit.data(), probe.first_unit.size(), start.silent_unit);
    return made ? Failure::none : Failure::no_silent_unit;
}

void print_damaged_unit(std::uint64_t unit_number) {
    std::printf("Error in frame %" PRIu64 " detected.\n", unit_number);
}

void print_pass_report(const PassReport& report, const LengthEstimate& estimate, const StreamFormat& format,
                       const FormatTool& tool) {
    const FrameSchedule& schedule = report.schedule;
    if (tool.long_frames_count != nullptr && (padding_irregular(estimate.walk) || format.length_varies)) {
        std::printf(tool.long_frames_count, static_cast<unsigned long long>(estimate.walk.long_units));
    }
    const std::int64_t change = schedule.net_change;
    // A run without a target inserts nothing, where the edits leave no unit too.
    if (estimate.interval > 0 || (estimate.walk.edited && !estimate.has_target)) {
        std::printf("Inserted %" PRId64 " frames, ", change);
    } else {
        std::printf("Removed %" PRId64 " frames, ", -change);
    }
    const std::uint64_t units_written = report.units_written;
    std::printf("actual length now is %s in %" PRIu64 " frames.\n",
                format_duration(static_cast<double>(units_written) * format.frame_seconds).c_str(), units_written);
}

Failure open_files(const RunOptions& options, InputFile& input, OutputFile& output) {
    if (!open_input_file(options.input_path, input)) return Failure::input_not_opened;
    if (options.output_path.empty()) return Failure::none;
    // Opening the input itself for writing would empty it before it is read.
    if (names_input_file(input, options.output_path)) return Failure::output_is_input;
    if (!open_output_file(options.output_path, output)) return Failure::output_not_opened;
    return Failure::none;
}

Failure fit_stream(const RunOptions& options, const InputFile& input, OutputFile& output, const FormatTool& tool) {
    const ProbeResult probe = probe_input(input, tool);
    std::fputs(probe.description.c_str(), stdout);
    if (probe.failure != Failure::none) return probe.failure;

    Playback playback;
    playback.keep_timeline = options.keep_timeline;
    if (options.edits) {
        playback.edited = true;
        playback.edits = edits_in_units(*options.edits, probe.format.frame_seconds);
    }
    LengthEstimate estimate;
    const Failure estimated =
        estimate_length(input, probe.format, *tool.syntax, target_of(options), estimate, playback);
    if (estimated != Failure::none) return estimated;
    print_length_report(estimate, probe.format, tool, options);
    const double delay_ms = options.delay_ms.value_or(0.0);
    print_delay(delay_ms, probe.format);
    if (options.output_path.empty()) return Failure::none;
    // Nothing is written when some silent unit cannot be made.
    if (estimate.walk.silent_unit_missing) return Failure::no_silent_unit;

    OutputStart start;
    const Failure started = output_start(delay_ms, probe, tool, start);
    if (started != Failure::none) return started;
    PassReport report;
    const Failure passed =
        run_scaling_pass(input, output, probe.format, *tool.syntax, estimate, start, print_damaged_unit, report,
                         playback);
    if (passed != Failure::none) return passed;
    if (!close_output(output)) return Failure::writing_output;
    print_pass_report(report, estimate, probe.format, tool);
    return Failure::none;
}

}  // namespace

int run_lenfit(const std::vector<std::string>& arguments, const FormatTool& tool) {
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    RunOptions options;
    if (!parse_arguments(static_cast<int>(argv.size()), argv.data(), options)) {
        print_usage(tool.format_tag);
        return status_failed;
    }
    InputFile input;
    OutputFile output;
    Failure failure = open_files(options, input, output);
    if (failure == Failure::none) failure = fit_stream(options, input, output, tool);
    close_input(input);
    close_output(output);
    return report_failure(failure, options, tool);
}

}  // namespace lenfit
