// The scaling pass: copies the stream frame by frame, writing every n-th frame twice
// or leaving it out, as the frame schedule spreads the changes over the stream.
//
// Formats whose frame length varies are read at the shorter length and tested frame by
// frame: a block that starts with a sync word and whose header announces a long frame
// is taken at the long length at once; a block whose sync word turns up extra_bytes in
// shows that the frame before it was long, and that frame is lengthened. So that a
// frame is scheduled and written only once its length is settled, the previous frame is
// held back in the input buffer until the next block has been tested.
#include <fcntl.h>
#include <sys/uio.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <limits>

#include "lenfit.h"

namespace lenfit {

namespace {

// Large enough that reads and writes are few; a frame is at most a few thousand bytes.
constexpr std::size_t stream_buffer_size = 512 * 1024;
// Spans queued for one gathered write.
constexpr std::size_t max_spans = 256;

// The output. Frames are never copied: the writer queues spans of the input buffer
// (one span for a run of frames copied once, a second one for a frame written twice)
// and writes them with one gathered write before the input buffer is refilled.
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

// The input, read in large blocks. Bytes from `kept` on stay in the buffer when it is
// refilled: the frame held back and the block being tested.
struct StreamReader {
    std::FILE* file;
    const std::string* path;
    std::uint8_t* data;
    StreamWriter* writer;      // its queued spans point into `data`
    std::size_t filled = 0;
    std::size_t cursor = 0;    // start of the next block
    std::size_t kept = 0;      // start of the bytes that must stay
    std::int64_t unread = 0;   // bytes of the stream not yet read from the file
};

void refill(StreamReader& reader) {
    flush(*reader.writer);
    std::memmove(reader.data, reader.data + reader.kept, reader.filled - reader.kept);
    reader.filled -= reader.kept;
    reader.cursor -= reader.kept;
    reader.kept = 0;
    const std::size_t room = stream_buffer_size - reader.filled;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(room), reader.unread));
    const std::size_t got = std::fread(reader.data + reader.filled, 1, wanted, reader.file);
    if (got < wanted && std::ferror(reader.file)) {
        fail_with_path("Error in reading file %s\n", *reader.path);
    }
    reader.filled += got;
    reader.unread = got < wanted ? 0 : reader.unread - static_cast<std::int64_t>(got);
}

// Makes up to `want` bytes from the cursor available; fewer only at the stream's end.
std::size_t available(StreamReader& reader, std::size_t want) {
    if (reader.filled - reader.cursor < want && reader.unread > 0) refill(reader);
    return std::min(want, reader.filled - reader.cursor);
}

struct PassState {
    FrameSchedule schedule;
    std::uint64_t long_frames = 0;  // frames copied at read_length + extra_bytes
};

void copy_frame(PassState& state, StreamWriter& writer, const std::uint8_t* frame,
                std::size_t n, std::uint64_t number, const FrameAlignmentRule& rule) {
    if (rule.enabled && n == static_cast<std::size_t>(rule.read_length) + rule.extra_bytes) {
        ++state.long_frames;
    }
    switch (schedule_frame(state.schedule, number)) {
        case FrameFate::twice:
            write_bytes(writer, frame, n);
            write_bytes(writer, frame, n);
            break;
        case FrameFate::once:
            write_bytes(writer, frame, n);
            break;
        case FrameFate::dropped:
            break;
    }
}

// Frames of one length: each block read is a frame, copied as the schedule says.
void copy_fixed_frames(PassState& state, StreamReader& reader, StreamWriter& writer,
                       std::uint64_t frame_count, const FrameAlignmentRule& rule) {
    while (state.schedule.frames_read < frame_count) {
        reader.kept = reader.cursor;
        const std::size_t n = available(reader, rule.read_length);
        if (n == 0) return;
        copy_frame(state, writer, reader.data + reader.cursor, n, ++state.schedule.frames_read, rule);
        reader.cursor += n;
    }
}

// Frames of two lengths, each block tested for where its sync word lies.
void copy_aligned_frames(PassState& state, StreamReader& reader, StreamWriter& writer,
                         const FrameAlignmentRule& rule) {
    bool holding = false;            // a frame is held back at reader.kept
    std::size_t held_length = 0;
    std::uint64_t held_number = 0;
    const std::size_t long_length = static_cast<std::size_t>(rule.read_length) + rule.extra_bytes;

    for (;;) {
        if (!holding) reader.kept = reader.cursor;
        std::size_t n = available(reader, rule.read_length);
        if (n == 0) break;
        const std::uint64_t number = ++state.schedule.frames_read;
        const std::uint8_t* block = reader.data + reader.cursor;

        if (rule.syntax->sync_at(block, n, 0)) {
            if (n == rule.read_length && rule.syntax->is_long_frame(block, n)) {
                n = available(reader, long_length);
                block = reader.data + reader.cursor;
            }
        } else if (holding && rule.syntax->sync_at(block, n, rule.extra_bytes)) {
            // The held frame was longer than it was taken: lengthen it and read on
            // from the real start of the next frame.
            --state.schedule.frames_read;
            held_length += rule.extra_bytes;
            reader.cursor += rule.extra_bytes;
            continue;
        } else {
            std::printf("Error in frame %" PRIu64 " detected.\n", number);
        }
        if (holding) {
            copy_frame(state, writer, reader.data + reader.kept, held_length, held_number, rule);
        }
        holding = true;
        reader.kept = reader.cursor;
        held_length = n;
        held_number = number;
        reader.cursor += n;
    }
    if (holding) copy_frame(state, writer, reader.data + reader.kept, held_length, held_number, rule);
}

void print_final_report(const PassState& state, const LengthEstimate& estimate,
                        const StreamFormat& format) {
    const std::int64_t change = state.schedule.net_change;
    if (estimate.interval > 0) {
        std::printf("Inserted %" PRId64 " frames, ", change);
    } else {
        std::printf("Removed %" PRId64 " frames, ", -change);
    }
    std::fputs("actual length now is ", stdout);
    const std::uint64_t frames_written = state.schedule.frames_read + static_cast<std::uint64_t>(change);
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

int run_scaling_pass(std::FILE* input, std::FILE* output, const RunOptions& options,
                     const StreamFormat& format, const LengthEstimate& estimate,
                     const FrameAlignmentRule& rule) {
    if (fseeko(input, static_cast<off_t>(format.first_frame_offset), SEEK_SET) != 0) {
        fail_with_path("Error in reading file %s\n", options.input_path);
    }
    // The input is read once, front to back: ask for a large read-ahead.
    posix_fadvise(fileno(input), 0, 0, POSIX_FADV_SEQUENTIAL);
    std::uint8_t input_buffer[stream_buffer_size];
    StreamWriter writer{fileno(output), &options.output_path, {}};
    StreamReader reader{input, &options.input_path, input_buffer, &writer};
    reader.unread = estimate.stream_bytes;

    PassState state;
    state.schedule = start_schedule(estimate);
    if (rule.enabled) {
        copy_aligned_frames(state, reader, writer, rule);
    } else {
        copy_fixed_frames(state, reader, writer, estimate.frame_count, rule);
    }
    flush(writer);
    std::fclose(input);
    if (std::fclose(output) != 0) fail_with_path("Error in writing file %s\n", options.output_path);

    if (rule.report_realignments != nullptr) rule.report_realignments(rule, state.long_frames);
    print_final_report(state, estimate, format);
    return 0;
}

}  // namespace lenfit
