// The walk of a stream's units, which the length estimate and the scaling pass share.
// The walk reads the input in large blocks into one buffer and finds the units there;
// it never reads a file itself while it steps, so that its caller can write out what
// points into the buffer before read_on moves and refills it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/file_io.h"
#include "common/format.h"

namespace lenfit {

// ---- measuring units in the bytes at hand
// Length of a unit of the stream (the first frame's key) at the start of bytes, or 0:
// a first frame of the stream and every frame of the stream that carries it on, as far
// as the n bytes show them. The frames may run past n: callers check the length.
std::uint32_t unit_bytes(const std::uint8_t* bytes, std::size_t n, const FrameSyntax& syntax,
                         std::uint32_t stream_key);
// Length of a confirmed unit at the start of bytes, or 0: a unit of the stream that the
// file holds whole (to_end bytes are left in the file from there) and that ends the
// file, is followed by another unit of the stream, or passes the unit check. n is at
// least the syntax's window_bytes, or all of to_end.
std::uint32_t confirmed_unit_bytes(const std::uint8_t* bytes, std::size_t n, std::int64_t to_end,
                                   const FrameSyntax& syntax, std::uint32_t stream_key);

// ---- the walk
// Bytes read per block: large enough that reading costs what copying does, small
// enough that memory stays small whatever the input's size.
constexpr std::size_t read_block_bytes = 1 << 20;

// A unit the walk took. `data` points into the walk's buffer and stays valid until the
// next read_on.
struct Unit {
    const std::uint8_t* data = nullptr;
    std::uint32_t bytes = 0;
    std::int64_t offset = 0;         // in the file
    std::int64_t damaged_bytes = 0;  // left out right before this unit
    std::int32_t bitrate_kbps = 0;   // of the whole unit
    bool long_frame = false;         // its first header announces the longer length
};

// How a region of damage began, as a walk that keeps the timeline sees it: what a
// silent unit in its place is shaped after.
struct DamageStart {
    // The unit taken just before the damage; empty when none was.
    std::vector<std::uint8_t> unit_before;
    // Where a unit of the stream starts at the damage's first byte (its rest lost or
    // damaged): that unit's first frame, its bytes as far as they were there and zeros
    // after, to its length; empty otherwise.
    std::vector<std::uint8_t> first_frame;
};

// Walks the units of a file from its first frame on, front to back. Only headers are
// looked at (a unit's check only where nothing else confirms it). A unit that is not
// confirmed is taken all the same when it is whole, passes the unit check (or the
// format has none and takes such units) and no confirmed unit starts inside it; every
// other byte up to the next confirmed unit is damage, and after the last unit, trailing
// junk.
//
// A walk that keeps the timeline (-k) also checks every unit, where the format has a
// check: a unit that fails it is damage, and the walk goes on after it. It describes how
// each region of damage began, and a unit that fails at the end is damage, not junk.
struct FrameWalk {
    const FrameSyntax* syntax = nullptr;
    std::uint32_t stream_key = 0;
    bool keep_timeline = false;
    std::int64_t file_bytes = 0;
    std::int64_t position = 0;          // where the next unit, or the search for one, goes on
    std::int64_t end_of_last_unit = 0;  // where the damage before the next unit begins
    std::int64_t end_of_damage = 0;     // past the last unit that failed its check
    bool searching = false;             // the bytes at position began no unit
    // The last unit taken, which a walk that keeps the timeline holds in its buffer until
    // it knows whether damage follows it.
    std::int64_t last_unit_offset = 0;
    std::uint32_t last_unit_bytes = 0;
    DamageStart damage_start;           // of the damage from end_of_last_unit on
    // Bytes of the file from offset `base` on, `held` of them: a block and what the walk
    // kept of the block before (a unit and its neighbours across the boundary).
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t buffer_bytes = 0;
    std::int64_t base = 0;
    std::size_t held = 0;
};

enum class WalkStep {
    unit,         // a unit was taken
    needs_bytes,  // call read_on, then step again
    // Units that failed their check lie after the last unit taken: damage up to the end
    // of the last of them, whose bytes the unit's damaged_bytes gives (a walk that
    // keeps the timeline; once, before the end).
    damage_at_end,
    end,          // the file holds no more units
};

// A walk of a file of file_bytes whose stream the probe found; it reads block_bytes at a
// time.
FrameWalk start_walk(const StreamFormat& format, const FrameSyntax& syntax, std::int64_t file_bytes,
                     std::size_t block_bytes = read_block_bytes, bool keep_timeline = false);
WalkStep next_unit(FrameWalk& walk, Unit& unit);
// Keeps the bytes from the walk's position on and reads the next block after them;
// false when the file ends before file_bytes or cannot be read.
bool read_on(const InputFile& input, FrameWalk& walk);

}  // namespace lenfit
