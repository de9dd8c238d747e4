// The length estimate: a walk of the whole stream gives the junk before and after it,
// the damage left out, its length in seconds and frames, and how many frames a target
// length asks to insert or drop.
#include <cinttypes>
#include <cstdlib>

#include "lenfit.h"

namespace lenfit {

namespace {

std::int64_t file_size(std::FILE* input, const std::string& path) {
    if (fseeko(input, 0, SEEK_END) != 0) {
        fail_with_path("Error in determining the size of file %s\n", path);
    }
    const off_t size = ftello(input);
    if (size < 0) fail_with_path("Error in determining the size of file %s\n", path);
    return static_cast<std::int64_t>(size);
}

void print_length_report(const LengthEstimate& estimate, const StreamFormat& format) {
    std::printf("Found %" PRIu32 " leading and %" PRId64 " trailing junk bytes.\n",
                format.first_frame_offset, estimate.trailing_junk);
    if (estimate.walk.damaged_places > 0) {
        std::printf("Found %" PRId64 " damaged bytes in %" PRIu64 " place(s); they are left out.\n",
                    estimate.walk.damaged_bytes, estimate.walk.damaged_places);
    }
    std::printf("Original length of audio is %g seconds, or ", estimate.original_seconds);
    print_duration(estimate.original_seconds);
    std::printf(", in %" PRIu64 " frames\n", estimate.frame_count);
}

void print_bitrate_range(const WalkSummary& walk) {
    if (walk.lowest_bitrate_kbps == walk.highest_bitrate_kbps) return;
    std::printf("Bitrate varies from %" PRId32 " to %" PRId32 " kbps.\n", walk.lowest_bitrate_kbps,
                walk.highest_bitrate_kbps);
}

void print_change_report(const LengthEstimate& estimate) {
    std::printf("Approximately %lld frames need to be ",
                std::llabs(static_cast<long long>(estimate.frames_to_change)));
    std::puts(estimate.frame_difference > 0 ? "inserted." : "dropped.");
}

}  // namespace

LengthEstimate compute_length_estimate(std::int64_t file_bytes, const WalkSummary& walk,
                                       double target_seconds, const StreamFormat& format) {
    LengthEstimate estimate;
    estimate.file_bytes = file_bytes;
    estimate.walk = walk;
    estimate.trailing_junk = file_bytes - walk.end;
    // Every frame was walked: the count is exact.
    estimate.frame_count = walk.frames;
    estimate.frames_exact = static_cast<double>(walk.frames);
    estimate.original_seconds = estimate.frames_exact * format.frame_seconds;

    estimate.has_target = target_seconds != 0.0;
    if (!estimate.has_target) {
        estimate.interval = estimate.frames_exact;
        return estimate;
    }
    estimate.frame_difference =
        (target_seconds - estimate.original_seconds) / format.frame_seconds;
    estimate.frames_to_change = static_cast<std::int64_t>(estimate.frame_difference);
    estimate.interval = estimate.frames_exact / estimate.frame_difference;
    return estimate;
}

LengthEstimate estimate_length(std::FILE* input, const RunOptions& options,
                               StreamFormat& format, const FormatTool& tool) {
    const std::int64_t file_bytes = file_size(input, options.input_path);
    if (file_bytes < static_cast<std::int64_t>(probe_buffer_size)) {
        fail_with_path("Error in reading file %s\n", options.input_path);
    }
    FrameWalk walk = start_walk(input, options.input_path, format, *tool.syntax, file_bytes);
    const LengthEstimate estimate = compute_length_estimate(
        file_bytes, summarize_stream(walk), options.target_seconds, format);
    print_length_report(estimate, format);
    if (tool.check_estimate != nullptr) tool.check_estimate(estimate, format);
    print_bitrate_range(estimate.walk);
    if (estimate.has_target) print_change_report(estimate);
    return estimate;
}

}  // namespace lenfit
