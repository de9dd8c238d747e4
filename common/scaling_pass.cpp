// The scaling pass: walks the stream's frames once more and copies them, writing every
// n-th frame twice or leaving it out, as the frame schedule spreads the changes over
// the stream. Damage between frames is never written; each place is reported where the
// pass reaches it.
#include <sys/uio.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <limits>

#include "lenfit.h"

namespace lenfit {

namespace {

// Spans queued for one gathered write.
constexpr std::size_t max_spans = 256;

// The output. Frames are never copied: the writer queues spans of the walk's mapped
// window (one span for a run of frames copied once, a second one for a frame written
// twice) and writes them with one gathered write before the window moves.
struct StreamWriter {
    int file;
    const std::string* path;
    iovec spans[max_spans];
    std::size_t count = 0;
};

void flush(StreamWriter& writer) {
    iovec* span = writer.spans;
    std::size_t left = writer.count;
    while (left > 0) {
        const ssize_t written = writev(writer.file, span, static_cast<int>(left));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) fail_with_path("Error in writing file %s\n", *writer.path);
        // A partial write: step over the spans written, then into the next one.
        auto done = static_cast<std::size_t>(written);
        while (left > 0 && done >= span->iov_len) {
            done -= span->iov_len;
            ++span;
            --left;
        }
        if (left > 0) {
            span->iov_base = static_cast<std::uint8_t*>(span->iov_base) + done;
            span->iov_len -= done;
        }
    }
    writer.count = 0;
}

void write_bytes(StreamWriter& writer, const std::uint8_t* bytes, std::size_t n) {
    if (writer.count > 0) {
        iovec& last = writer.spans[writer.count - 1];
        if (static_cast<const std::uint8_t*>(last.iov_base) + last.iov_len == bytes) {
            last.iov_len += n;
            return;
        }
    }
    if (writer.count == max_spans) flush(writer);
    writer.spans[writer.count++] = iovec{const_cast<std::uint8_t*>(bytes), n};
}

void release_spans(void* writer) { flush(*static_cast<StreamWriter*>(writer)); }

void copy_frame(FrameSchedule& schedule, StreamWriter& writer, const WalkStep& step) {
    switch (schedule_frame(schedule, ++schedule.frames_read)) {
        case FrameFate::twice:
            write_bytes(writer, step.frame, step.length);
            write_bytes(writer, step.frame, step.length);
            break;
        case FrameFate::once:
            write_bytes(writer, step.frame, step.length);
            break;
        case FrameFate::dropped:
            break;
    }
}

void print_final_report(const FrameSchedule& schedule, const LengthEstimate& estimate,
                        const StreamFormat& format) {
    const std::int64_t change = schedule.net_change;
    if (estimate.interval > 0) {
        std::printf("Inserted %" PRId64 " frames, ", change);
    } else {
        std::printf("Removed %" PRId64 " frames, ", -change);
    }
    std::fputs("actual length now is ", stdout);
    const std::uint64_t frames_written = schedule.frames_read + static_cast<std::uint64_t>(change);
    print_duration(static_cast<double>(frames_written) * format.frame_seconds);
    std::printf(" in %" PRIu64 " frames.\n", frames_written);
}

}  // namespace

FrameSchedule start_schedule(const LengthEstimate& estimate) {
    FrameSchedule schedule;
    schedule.interval = estimate.interval;
    // Without a target no frame is changed, however many frames the pass copies.
    schedule.next_threshold = estimate.has_target ? std::fabs(estimate.interval)
                                                  : std::numeric_limits<double>::infinity();
    return schedule;
}

FrameFate schedule_frame(FrameSchedule& schedule, std::uint64_t frame_number) {
    if (!(static_cast<double>(frame_number) > schedule.next_threshold)) return FrameFate::once;
    schedule.next_threshold += std::fabs(schedule.interval);
    if (schedule.interval > 0) {
        ++schedule.net_change;
        return FrameFate::twice;
    }
    --schedule.net_change;
    return FrameFate::dropped;
}

FrameSchedule run_scaling_pass(std::FILE* input, std::FILE* output, const RunOptions& options,
                               const StreamFormat& format, const LengthEstimate& estimate,
                               const FormatTool& tool) {
    StreamWriter writer{fileno(output), &options.output_path, {}};
    FrameWalk walk = start_walk(input, options.input_path, format, *tool.syntax, estimate.file_bytes);
    // The writer's spans point into the walk's window: they are written out before it
    // moves.
    walk.release = release_spans;
    walk.release_context = &writer;

    FrameSchedule schedule = start_schedule(estimate);
    WalkStep step;
    while (next_frame(walk, step)) {
        if (step.damaged_bytes > 0) {
            std::printf("Error in frame %" PRIu64 " detected.\n", schedule.frames_read + 1);
        }
        copy_frame(schedule, writer, step);
    }
    flush(writer);
    std::fclose(input);
    if (std::fclose(output) != 0) fail_with_path("Error in writing file %s\n", options.output_path);

    if (tool.report_pass != nullptr) tool.report_pass(format, estimate);
    print_final_report(schedule, estimate, format);
    return schedule;
}

}  // namespace lenfit
