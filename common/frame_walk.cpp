// The walk of a stream's real frames, which the length estimate and the scaling pass
// share. Each frame is measured by its own header, so bitrate and channel switches,
// mixed frame lengths and padding need nothing special; lost or foreign bytes between
// frames are stepped over up to the next frame that its successor (or the frame's own
// check) confirms.
#include <algorithm>
#include <cstring>

#include "lenfit.h"

namespace lenfit {

namespace {

// Length of one frame of the stream at the start of bytes, or 0.
std::uint32_t stream_single_frame_length(const std::uint8_t* bytes, std::size_t n,
                                         const FrameSyntax& syntax, std::uint32_t stream_key) {
    const std::uint32_t length = syntax.frame_length_at(bytes, n, 0);
    if (length == 0 || syntax.stream_key(bytes) != stream_key) return 0;
    return length;
}

}  // namespace

std::uint32_t stream_frame_length(const std::uint8_t* bytes, std::size_t n,
                                  const FrameSyntax& syntax, std::uint32_t stream_key) {
    const std::uint32_t first = stream_single_frame_length(bytes, n, syntax, stream_key);
    if (first == 0 || syntax.continues_unit == nullptr) return first;
    // A frame that carries on a unit cannot start one.
    if (syntax.continues_unit(bytes)) return 0;
    std::uint32_t length = first;
    for (unsigned frames = 1; length < n; ++frames) {
        const std::uint32_t next = stream_single_frame_length(bytes + length, n - length, syntax, stream_key);
        if (next == 0 || !syntax.continues_unit(bytes + length)) break;
        if (frames == syntax.max_unit_frames) return 0;
        length += next;
    }
    return length;
}

std::uint32_t unit_length_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset,
                             const FrameSyntax& syntax) {
    if (syntax.frame_length_at(bytes, n, offset) == 0) return 0;
    return stream_frame_length(bytes + offset, n - offset, syntax, syntax.stream_key(bytes + offset));
}

std::uint32_t confirmed_frame_length(const std::uint8_t* bytes, std::size_t n,
                                     std::int64_t to_end, const FrameSyntax& syntax,
                                     std::uint32_t stream_key) {
    const std::uint32_t length = stream_frame_length(bytes, n, syntax, stream_key);
    if (length == 0 || length > to_end || length > n) return 0;
    if (length == to_end) return length;
    if (stream_frame_length(bytes + length, n - length, syntax, stream_key) > 0) return length;
    if (syntax.frame_check != nullptr && syntax.frame_check(bytes, length)) return length;
    return 0;
}

namespace {

[[noreturn]] void fail_reading(const FrameWalk& walk) {
    fail_with_path("Error in reading file %s\n", *walk.path);
}

// Refills the buffer from `at` on, keeping the bytes from `at` it already holds.
void refill(FrameWalk& walk, std::int64_t at) {
    if (walk.release != nullptr) walk.release(walk.release_context);
    const std::int64_t held_end = walk.base + static_cast<std::int64_t>(walk.filled);
    std::size_t kept = 0;
    if (at >= walk.base && at <= held_end) {
        kept = static_cast<std::size_t>(held_end - at);
        std::memmove(walk.buffer, walk.buffer + (at - walk.base), kept);
    } else if (fseeko(walk.file, static_cast<off_t>(at), SEEK_SET) != 0) {
        fail_reading(walk);
    }
    walk.base = at;
    walk.filled = kept;
    const std::int64_t unread = walk.file_bytes - (at + static_cast<std::int64_t>(kept));
    const std::size_t wanted = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(walk.capacity - kept), unread));
    // The size was measured before the walk: a short read is a failed read, or a file
    // that shrank under us.
    if (std::fread(walk.buffer + kept, 1, wanted, walk.file) != wanted) fail_reading(walk);
    walk.filled += wanted;
}

// Makes the bytes from `at` on stand in the buffer, `count` of them or all the file
// has left; returns where they stand and sets n to how many there are.
const std::uint8_t* bytes_at(FrameWalk& walk, std::int64_t at, std::size_t count, std::size_t& n) {
    const std::int64_t end = std::min(at + static_cast<std::int64_t>(count), walk.file_bytes);
    if (at < walk.base || end > walk.base + static_cast<std::int64_t>(walk.filled)) refill(walk, at);
    n = static_cast<std::size_t>(end - at);
    return walk.buffer + (at - walk.base);
}

// The first position from `from` on where a confirmed frame starts, or -1.
std::int64_t next_confirmed_frame(FrameWalk& walk, std::int64_t from) {
    const FrameSyntax& syntax = *walk.syntax;
    std::int64_t q = from;
    while (q < walk.file_bytes) {
        std::size_t n = 0;
        const std::uint8_t* at_q = bytes_at(walk, q, syntax.window_bytes, n);
        // Every position whose window lies in the buffer is searched in one go.
        const std::int64_t held_end = walk.base + static_cast<std::int64_t>(walk.filled);
        const std::int64_t limit = held_end == walk.file_bytes
                                       ? held_end
                                       : held_end - static_cast<std::int64_t>(syntax.window_bytes) + 1;
        const auto stretch = static_cast<std::size_t>(std::max<std::int64_t>(limit - q, 1));
        const auto* sync = static_cast<const std::uint8_t*>(std::memchr(at_q, syntax.sync_byte, stretch));
        if (sync == nullptr) {
            q += static_cast<std::int64_t>(stretch);
            continue;
        }
        q += sync - at_q;
        const auto left = static_cast<std::size_t>(held_end - q);
        if (confirmed_frame_length(sync, left, walk.file_bytes - q, syntax, walk.stream_key) > 0) return q;
        ++q;
    }
    return -1;
}

// Whether a confirmed frame starts inside the `length` bytes of the frame at `frame`,
// of which n stand in the buffer (two windows, or all the file has left).
bool confirmed_frame_inside(const FrameWalk& walk, const std::uint8_t* frame, std::size_t n,
                            std::int64_t frame_at, std::uint32_t length) {
    for (std::uint32_t offset = 1; offset < length; ++offset) {
        if (frame[offset] != walk.syntax->sync_byte) continue;
        if (confirmed_frame_length(frame + offset, n - offset, walk.file_bytes - frame_at - offset,
                                   *walk.syntax, walk.stream_key) > 0) {
            return true;
        }
    }
    return false;
}

// Length of the frame the walk takes at `here`, or 0: a confirmed frame or, where the
// format has no frame check to vouch for it, a whole frame that leads nowhere and holds
// no confirmed frame inside it (which would make it a frame cut short).
std::uint32_t frame_taken_at(const FrameWalk& walk, const std::uint8_t* here, std::size_t n) {
    const FrameSyntax& syntax = *walk.syntax;
    const std::int64_t to_end = walk.file_bytes - walk.position;
    const std::uint32_t confirmed = confirmed_frame_length(here, n, to_end, syntax, walk.stream_key);
    if (confirmed > 0 || syntax.frame_check != nullptr) return confirmed;
    const std::uint32_t length = stream_frame_length(here, n, syntax, walk.stream_key);
    if (length == 0 || length > to_end || length > n) return 0;
    return confirmed_frame_inside(walk, here, n, walk.position, length) ? 0 : length;
}

}  // namespace

FrameWalk start_walk(std::FILE* file, const std::string& path, const StreamFormat& format,
                     const FrameSyntax& syntax, std::int64_t file_bytes, std::uint8_t* buffer,
                     std::size_t capacity) {
    FrameWalk walk;
    walk.file = file;
    walk.path = &path;
    walk.syntax = &syntax;
    walk.stream_key = format.stream_key;
    walk.file_bytes = file_bytes;
    walk.buffer = buffer;
    walk.capacity = capacity;
    walk.position = format.first_frame_offset;
    // Nothing is held yet: the first look reads from the first frame on.
    walk.base = -1;
    return walk;
}

bool next_frame(FrameWalk& walk, WalkStep& step) {
    step.damaged_bytes = 0;
    while (walk.position < walk.file_bytes) {
        const std::int64_t at = walk.position;
        std::size_t n = 0;
        // Room for the frame here and for every candidate frame that starts inside it.
        const std::uint8_t* here = bytes_at(walk, at, 2 * walk.syntax->window_bytes, n);
        const std::uint32_t length = frame_taken_at(walk, here, n);
        if (length > 0) {
            step.frame = here;
            step.length = length;
            walk.position += length;
            return true;
        }
        const std::int64_t next = next_confirmed_frame(walk, at + 1);
        if (next < 0) return false;  // the rest is trailing junk
        step.damaged_bytes += next - at;
        walk.position = next;
    }
    return false;
}

WalkSummary summarize_stream(FrameWalk& walk) {
    WalkSummary summary;
    WalkStep step;
    while (next_frame(walk, step)) {
        ++summary.frames;
        if (step.damaged_bytes > 0) {
            summary.damaged_bytes += step.damaged_bytes;
            ++summary.damaged_places;
        }
        const std::int32_t bitrate = walk.syntax->bitrate_kbps(step.frame, step.length);
        if (summary.frames == 1 || bitrate < summary.lowest_bitrate_kbps) summary.lowest_bitrate_kbps = bitrate;
        if (summary.frames == 1 || bitrate > summary.highest_bitrate_kbps) summary.highest_bitrate_kbps = bitrate;
        if (walk.syntax->is_long_frame(step.frame)) ++summary.long_frames;
    }
    summary.end = walk.position;
    return summary;
}

}  // namespace lenfit
