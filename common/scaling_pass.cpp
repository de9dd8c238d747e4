// The scaling pass: walks the stream's frames once more and copies them, writing every
// n-th frame twice or leaving it out, as the frame schedule spreads the changes over
// the stream. Damage between frames is never written; each place is reported where the
// pass reaches it. The walk and the writing run on two threads at once: the kernel's
// copy into the output is most of a pass, and the walk of the next window hides behind
// it.
#include <sys/mman.h>
#include <sys/uio.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

#include "lenfit.h"

namespace lenfit {

namespace {

// Spans handed to the writing thread at a time: what one gathered write takes.
constexpr std::size_t max_spans = 1024;

struct SpanBatch {
    iovec spans[max_spans];
    std::size_t count = 0;
};

// Batches in turn: one being written, one waiting for the writing thread, one being
// filled by the walk.
constexpr std::uint64_t batch_count = 3;

// The output. Frames are never copied: the pass queues spans of the walk's mapped
// window (one span for a run of frames copied once, a second one for a frame written
// twice), and a thread of the writer's own writes them with gathered writes while the
// walk goes on, so that walking and writing overlap. Batches are written in the order
// they are handed over. The next batch waits while one is written, so the writing
// thread never waits for the walk to wake up; the walk unmaps a window once every
// batch that points into it is written, so at most two windows are mapped at a time.
struct StreamWriter {
    int file;
    const std::string* path;
    SpanBatch batches[batch_count];  // batch number i is batches[i % batch_count]
    std::thread thread;
    // Shared with the writing thread, under the lock; only the walk's thread hands over.
    std::mutex lock;
    std::condition_variable changed;
    std::uint64_t handed = 0;   // batches handed over
    std::uint64_t written = 0;  // of those, the batches written
    bool finished = false;      // nothing more will be handed over
    bool failed = false;        // a write failed; later batches are not written
    // The window handed over last, which the batches up to handed_with_window point into.
    const std::uint8_t* window = nullptr;
    std::size_t window_length = 0;
    std::uint64_t handed_with_window = 0;
};

// Writes every byte of the spans; false when the file takes no more.
bool write_spans(int file, iovec* span, std::size_t left) {
    while (left > 0) {
        const ssize_t written = writev(file, span, static_cast<int>(left));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
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
    return true;
}

// The writing thread: writes each batch handed over until the pass is finished.
void write_batches(StreamWriter& writer) {
    std::unique_lock<std::mutex> guard(writer.lock);
    for (;;) {
        writer.changed.wait(guard, [&] { return writer.written < writer.handed || writer.finished; });
        if (writer.written == writer.handed) return;
        SpanBatch& batch = writer.batches[writer.written % batch_count];
        const bool write = !writer.failed;
        guard.unlock();
        const bool written = write && write_spans(writer.file, batch.spans, batch.count);
        batch.count = 0;
        guard.lock();
        if (write && !written) writer.failed = true;
        ++writer.written;
        writer.changed.notify_all();
    }
}

[[noreturn]] void fail_writing(const StreamWriter& writer) {
    fail_with_path("Error in writing file %s\n", *writer.path);
}

// Waits until the writing thread has written `batches` batches; ends the run if a
// write failed.
void wait_for_writes(StreamWriter& writer, std::uint64_t batches) {
    std::unique_lock<std::mutex> guard(writer.lock);
    writer.changed.wait(guard, [&] { return writer.written >= batches; });
    if (writer.failed) fail_writing(writer);
}

SpanBatch& filling(StreamWriter& writer) { return writer.batches[writer.handed % batch_count]; }

// Hands the batch being filled to the writing thread, and waits until the next one is
// free to fill.
void hand_over(StreamWriter& writer) {
    {
        std::lock_guard<std::mutex> guard(writer.lock);
        ++writer.handed;
    }
    writer.changed.notify_all();
    if (writer.handed >= batch_count) wait_for_writes(writer, writer.handed - (batch_count - 1));
}

// Unmaps the window handed over last, once every batch that points into it is written.
void unmap_written_window(StreamWriter& writer) {
    if (writer.window == nullptr) return;
    wait_for_writes(writer, writer.handed_with_window);
    munmap(const_cast<std::uint8_t*>(writer.window), writer.window_length);
    writer.window = nullptr;
}

void start_writing(StreamWriter& writer) { writer.thread = std::thread(write_batches, std::ref(writer)); }

// Writes what is left and ends the writing thread; ends the run if a write failed.
void finish_writing(StreamWriter& writer) {
    if (filling(writer).count > 0) hand_over(writer);
    {
        std::lock_guard<std::mutex> guard(writer.lock);
        writer.finished = true;
    }
    writer.changed.notify_all();
    writer.thread.join();
    unmap_written_window(writer);
    if (writer.failed) fail_writing(writer);
}

void write_bytes(StreamWriter& writer, const std::uint8_t* bytes, std::size_t n) {
    SpanBatch& batch = filling(writer);
    if (batch.count > 0) {
        iovec& last = batch.spans[batch.count - 1];
        if (static_cast<const std::uint8_t*>(last.iov_base) + last.iov_len == bytes) {
            last.iov_len += n;
            return;
        }
    }
    if (batch.count == max_spans) {
        hand_over(writer);
        return write_bytes(writer, bytes, n);
    }
    batch.spans[batch.count++] = iovec{const_cast<std::uint8_t*>(bytes), n};
}

// The walk lets a window go: its last spans are handed over, and the window before it,
// once written, is unmapped before the walk maps the next one.
void release_window(void* context, const std::uint8_t* window, std::size_t length) {
    StreamWriter& writer = *static_cast<StreamWriter*>(context);
    if (filling(writer).count > 0) hand_over(writer);
    unmap_written_window(writer);
    writer.window = window;
    writer.window_length = length;
    writer.handed_with_window = writer.handed;
}

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
    StreamWriter writer;
    writer.file = fileno(output);
    writer.path = &options.output_path;
    FrameWalk walk = start_walk(input, options.input_path, format, *tool.syntax, estimate.file_bytes);
    // The writer's spans point into the walk's windows: it unmaps each once written.
    walk.release = release_window;
    walk.release_context = &writer;
    start_writing(writer);

    FrameSchedule schedule = start_schedule(estimate);
    WalkStep step;
    while (next_frame(walk, step)) {
        if (step.damaged_bytes > 0) {
            std::printf("Error in frame %" PRIu64 " detected.\n", schedule.frames_read + 1);
        }
        copy_frame(schedule, writer, step);
    }
    finish_writing(writer);
    std::fclose(input);
    if (std::fclose(output) != 0) fail_with_path("Error in writing file %s\n", options.output_path);

    if (tool.report_pass != nullptr) tool.report_pass(format, estimate);
    print_final_report(schedule, estimate, format);
    return schedule;
}

}  // namespace lenfit
