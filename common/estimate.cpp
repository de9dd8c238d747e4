// The length estimate: junk before and after the stream, its length in seconds and
// frames, and how many frames a target length asks to insert or drop.
#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdlib>

#include "lenfit.h"

namespace lenfit {

namespace {

// Counts from a double this close below a whole number are taken as that number.
constexpr double whole_frame_slack = 0.00000001;

std::int64_t file_size(std::FILE* input, const std::string& path) {
    if (fseeko(input, 0, SEEK_END) != 0) {
        fail_with_path("Error in determining the size of file %s\n", path);
    }
    return static_cast<std::int64_t>(ftello(input));
}

void read_tail_window(std::FILE* input, const std::string& path, ProbeBuffer& window) {
    const off_t window_size = static_cast<off_t>(window.size());
    if (fseeko(input, -window_size, SEEK_END) != 0) {
        fail_with_path("Error in reading file %s\n", path);
    }
    if (std::fread(window.data(), 1, window.size(), input) != window.size()) {
        fail_with_path("Error in reading file %s\n", path);
    }
}

void print_length_report(const LengthEstimate& estimate, const StreamFormat& format) {
    std::printf("Found %" PRIu32 " leading and %" PRId64 " trailing junk bytes.\n",
                format.first_frame_offset, estimate.trailing_junk);
    std::printf("Original length of audio is %g seconds, or ", estimate.original_seconds);
    print_duration(estimate.original_seconds);
    std::printf(", in %" PRIu64 " frames\n", estimate.frame_count);
}

void print_change_report(const LengthEstimate& estimate) {
    std::printf("Approximately %lld frames need to be ",
                std::llabs(static_cast<long long>(estimate.frames_to_change)));
    std::puts(estimate.frame_difference > 0 ? "inserted." : "dropped.");
}

}  // namespace

LengthEstimate compute_length_estimate(std::int64_t file_bytes, std::int64_t trailing_junk,
                                       double target_seconds, const StreamFormat& format) {
    LengthEstimate estimate;
    estimate.file_bytes = file_bytes;
    estimate.trailing_junk = trailing_junk;
    // A file whose junk counts overlap (possible only for inputs shorter than two
    // windows) holds no stream at all.
    estimate.stream_bytes =
        std::max<std::int64_t>(0, file_bytes - format.first_frame_offset - trailing_junk);

    // Where frame lengths vary the bitrate's mean length measures the stream; each
    // frame is a byte or two off it, so the count is rounded to the nearest frame.
    const double stream = static_cast<double>(estimate.stream_bytes);
    const double frame_length =
        format.length_varies ? format.mean_frame_bytes : static_cast<double>(format.frame_bytes);
    estimate.frames_exact = stream / frame_length;
    estimate.original_seconds = (stream * format.frame_seconds) / frame_length;
    const double slack = format.length_varies ? 0.5 : whole_frame_slack;
    estimate.frame_count = static_cast<std::uint64_t>(estimate.frames_exact + slack);

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
                               StreamFormat& format, ProbeBuffer& probe_buffer,
                               const FormatTool& tool) {
    const std::int64_t file_bytes = file_size(input, options.input_path);
    read_tail_window(input, options.input_path, probe_buffer);
    const std::int64_t trailing_junk = tool.trailing_junk(probe_buffer, format);
    const LengthEstimate estimate =
        compute_length_estimate(file_bytes, trailing_junk, options.target_seconds, format);
    print_length_report(estimate, format);
    if (tool.check_estimate != nullptr) tool.check_estimate(estimate, format);
    if (estimate.has_target) print_change_report(estimate);
    return estimate;
}

}  // namespace lenfit
