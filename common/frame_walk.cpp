// The walk of a stream's real units. Each unit is measured by its own headers, so
// bitrate and channel switches, mixed frame lengths and padding need nothing special;
// lost or foreign bytes between units are stepped over up to the next unit that its
// successor (or the unit's own check) confirms.
#include "common/frame_walk.h"

#include <algorithm>
#include <cstring>

namespace lenfit {

namespace {

// Length of one frame of the stream at the start of bytes, or 0.
std::uint32_t stream_frame_bytes(const std::uint8_t* bytes, std::size_t n, const FrameSyntax& syntax,
                                 std::uint32_t stream_key) {
    const std::uint32_t length = syntax.frame_length_at(bytes, n, 0);
    if (length == 0) return 0;
    const std::uint32_t key = syntax.stream_key(bytes);
    return key == stream_key || key == any_stream_key ? length : 0;
}

// The first frame's length where a unit of the stream starts at bytes (a frame of the
// stream that carries on no unit), or 0. Only its header is looked at.
std::uint32_t unit_first_frame_bytes(const std::uint8_t* bytes, std::size_t n, const FrameSyntax& syntax,
                                     std::uint32_t stream_key) {
    const std::uint32_t length = stream_frame_bytes(bytes, n, syntax, stream_key);
    if (length == 0 || (syntax.continues_unit != nullptr && syntax.continues_unit(bytes))) return 0;
    return length;
}

}  // namespace

std::uint32_t unit_bytes(const std::uint8_t* bytes, std::size_t n, const FrameSyntax& syntax,
                         std::uint32_t stream_key) {
    std::uint32_t length = unit_first_frame_bytes(bytes, n, syntax, stream_key);
    if (length == 0 || syntax.continues_unit == nullptr) return length;
    for (unsigned frames = 1; length < n; ++frames) {
        const std::uint32_t next = stream_frame_bytes(bytes + length, n - length, syntax, stream_key);
        if (next == 0 || !syntax.continues_unit(bytes + length)) break;
        if (frames == syntax.max_unit_frames) return 0;
        length += next;
    }
    return length;
}

std::uint32_t confirmed_unit_bytes(const std::uint8_t* bytes, std::size_t n, std::int64_t to_end,
                                   const FrameSyntax& syntax, std::uint32_t stream_key) {
    const std::uint32_t length = unit_bytes(bytes, n, syntax, stream_key);
    if (length == 0 || length > to_end || length > n) return 0;
    if (length == to_end) return length;
    // The next unit's first header confirms this one; its own frames need not be here.
    if (unit_first_frame_bytes(bytes + length, n - length, syntax, stream_key) > 0) return length;
    if (syntax.unit_check != nullptr && syntax.unit_check(bytes, length)) return length;
    return 0;
}

FrameWalk start_walk(const StreamFormat& format, const FrameSyntax& syntax, std::int64_t file_bytes,
                     std::size_t block_bytes, bool keep_timeline) {
    FrameWalk walk;
    walk.syntax = &syntax;
    walk.stream_key = format.stream_key;
    walk.keep_timeline = keep_timeline;
    walk.file_bytes = file_bytes;
    walk.position = format.first_frame_offset;
    walk.end_of_last_unit = format.first_frame_offset;
    walk.end_of_damage = format.first_frame_offset;
    walk.base = format.first_frame_offset;
    // Room for a block and for what is kept before it: the last unit taken, a unit with
    // every candidate unit that starts inside it. A block need not be larger than the
    // stream.
    const std::int64_t stream_bytes = std::max<std::int64_t>(file_bytes - format.first_frame_offset, 1);
    walk.buffer_bytes =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(block_bytes), stream_bytes)) +
        3 * syntax.window_bytes;
    // Left uninitialised: only bytes read are ever looked at.
    walk.buffer.reset(new std::uint8_t[walk.buffer_bytes]);
    return walk;
}

namespace {

std::int64_t held_end(const FrameWalk& walk) { return walk.base + static_cast<std::int64_t>(walk.held); }

// The bytes from `at` on, `count` of them or all the file has left, and how many there
// are; nullptr when the buffer does not hold them all yet.
const std::uint8_t* held_bytes(const FrameWalk& walk, std::int64_t at, std::size_t count, std::size_t& n) {
    const std::int64_t end = std::min(at + static_cast<std::int64_t>(count), walk.file_bytes);
    if (end > held_end(walk)) return nullptr;
    n = static_cast<std::size_t>(end - at);
    return walk.buffer.get() + (at - walk.base);
}

// Whether a confirmed unit starts inside the `length` bytes of the unit at `unit`, of
// which n are at hand (two windows, or all the file has left).
bool confirmed_unit_inside(const FrameWalk& walk, const std::uint8_t* unit, std::size_t n,
                           std::uint32_t length) {
    const std::int64_t to_end = walk.file_bytes - walk.position;
    for (std::uint32_t offset = 1; offset < length; ++offset) {
        if (unit[offset] != walk.syntax->sync_byte) continue;
        if (confirmed_unit_bytes(unit + offset, n - offset, to_end - offset, *walk.syntax, walk.stream_key) > 0) {
            return true;
        }
    }
    return false;
}

// Length of the unit the walk takes at its position, or 0: a confirmed unit or, where
// the format has no unit check to vouch for it and takes such units, a whole unit that
// leads nowhere and holds no confirmed unit inside it (which would make it a unit cut
// short).
std::uint32_t unit_taken_at(const FrameWalk& walk, const std::uint8_t* here, std::size_t n) {
    const FrameSyntax& syntax = *walk.syntax;
    const std::int64_t to_end = walk.file_bytes - walk.position;
    const std::uint32_t confirmed = confirmed_unit_bytes(here, n, to_end, syntax, walk.stream_key);
    if (confirmed > 0 || syntax.unit_check != nullptr || !syntax.takes_unconfirmed_units) return confirmed;
    const std::uint32_t length = unit_bytes(here, n, syntax, walk.stream_key);
    if (length == 0 || length > to_end || length > n) return 0;
    return confirmed_unit_inside(walk, here, n, length) ? 0 : length;
}

// Searches the bytes held from the walk's position for a confirmed unit, and stops the
// search on one; false when the held bytes ran out before the file did.
bool search_held_bytes(FrameWalk& walk) {
    const std::size_t window = walk.syntax->window_bytes;
    const std::int64_t end = held_end(walk);
    // Candidates whose window lies in the held bytes, or all of them at the file's end.
    const std::int64_t limit = end == walk.file_bytes ? end : end - static_cast<std::int64_t>(window) + 1;
    while (walk.position < limit) {
        const std::uint8_t* from = walk.buffer.get() + (walk.position - walk.base);
        const auto* sync = static_cast<const std::uint8_t*>(
            std::memchr(from, walk.syntax->sync_byte, static_cast<std::size_t>(limit - walk.position)));
        if (sync == nullptr) {
            walk.position = limit;
            break;
        }
        walk.position += sync - from;
        const auto n = static_cast<std::size_t>(end - walk.position);
        if (confirmed_unit_bytes(sync, n, walk.file_bytes - walk.position, *walk.syntax, walk.stream_key) > 0) {
            walk.searching = false;
            return true;
        }
        ++walk.position;
    }
    return walk.position >= walk.file_bytes;
}

bool in_damage(const FrameWalk& walk) { return walk.position != walk.end_of_last_unit; }

// Where damage begins at the walk's position (here, n bytes at hand), a walk that keeps
// the timeline notes the unit before it and the frame that starts there, if one does.
void note_damage_start(FrameWalk& walk, const std::uint8_t* here, std::size_t n) {
    if (!walk.keep_timeline || in_damage(walk)) return;
    DamageStart& start = walk.damage_start;
    start.unit_before.clear();
    if (walk.last_unit_bytes > 0) {
        const std::uint8_t* last = walk.buffer.get() + (walk.last_unit_offset - walk.base);
        start.unit_before.assign(last, last + walk.last_unit_bytes);
    }
    const std::uint32_t frame = unit_first_frame_bytes(here, n, *walk.syntax, walk.stream_key);
    start.first_frame.assign(here, here + std::min<std::size_t>(frame, n));
    start.first_frame.resize(frame, 0);
}

}  // namespace

WalkStep next_unit(FrameWalk& walk, Unit& unit) {
    const FrameSyntax& syntax = *walk.syntax;
    while (walk.position < walk.file_bytes) {
        if (walk.searching) {
            if (!search_held_bytes(walk)) return WalkStep::needs_bytes;
            continue;
        }
        std::size_t n = 0;
        // Room for the unit here and for every candidate unit that starts inside it.
        const std::uint8_t* here = held_bytes(walk, walk.position, 2 * syntax.window_bytes, n);
        if (here == nullptr) return WalkStep::needs_bytes;
        const std::uint32_t length = unit_taken_at(walk, here, n);
        if (length == 0) {
            note_damage_start(walk, here, n);
            walk.searching = true;
            ++walk.position;
            continue;
        }
        if (walk.keep_timeline && syntax.unit_check != nullptr && !syntax.unit_check(here, length)) {
            // A unit that arrived damaged: its bytes join the damage, and the walk goes
            // on after it.
            note_damage_start(walk, here, n);
            walk.position += length;
            walk.end_of_damage = walk.position;
            continue;
        }
        walk.last_unit_offset = walk.position;
        walk.last_unit_bytes = length;
        unit.data = here;
        unit.bytes = length;
        unit.offset = walk.position;
        unit.damaged_bytes = walk.position - walk.end_of_last_unit;
        unit.bitrate_kbps = syntax.bitrate_kbps(here, length);
        unit.long_frame = syntax.is_long_frame(here);
        walk.position += length;
        walk.end_of_last_unit = walk.position;
        return WalkStep::unit;
    }
    if (walk.end_of_damage > walk.end_of_last_unit) {
        unit = Unit{};
        unit.offset = walk.end_of_damage;
        unit.damaged_bytes = walk.end_of_damage - walk.end_of_last_unit;
        walk.end_of_last_unit = walk.end_of_damage;
        return WalkStep::damage_at_end;
    }
    return WalkStep::end;
}

bool read_on(const InputFile& input, FrameWalk& walk) {
    const std::int64_t end = held_end(walk);
    // A walk that keeps the timeline keeps the last unit too, while no damage after it
    // has been described.
    const std::int64_t keep_from =
        walk.keep_timeline && !in_damage(walk) && walk.last_unit_bytes > 0 ? walk.last_unit_offset : walk.position;
    const auto kept = static_cast<std::size_t>(end - keep_from);
    std::memmove(walk.buffer.get(), walk.buffer.get() + (keep_from - walk.base), kept);
    walk.base = keep_from;
    walk.held = kept;
    const auto wanted =
        static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(walk.buffer_bytes - kept),
                                                         walk.file_bytes - end));
    // A file cut short while the run reads it ends the read early.
    if (read_input(input, end, walk.buffer.get() + kept, wanted) != static_cast<std::int64_t>(wanted)) {
        return false;
    }
    walk.held += wanted;
    return true;
}

}  // namespace lenfit
