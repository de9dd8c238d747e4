// The stream as a run writes it: the timeline (the units the walk takes, and with -k
// the silent units in the place of damage), less the units an edit list cuts, with the
// silent units it puts in. The estimate counts it and the pass writes it through the
// same steps, one unit at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/edit_list.h"
#include "common/file_io.h"
#include "common/format.h"
#include "common/timeline.h"

namespace lenfit {

// How the run plays the stream: with -k, silent units in the place of damage; with -e,
// its edits in units.
struct Playback {
    bool keep_timeline = false;
    bool edited = false;  // an edit list was given, though it may leave everything as it is
    std::vector<UnitEdit> edits;
};

enum class PartKind {
    unit,         // one unit of the timeline, or one silent unit an edit puts in
    damage,       // a region of damage the walk left out (its silent units follow as units)
    needs_bytes,  // call read_on, then step again
    end,
};

struct Part {
    // The unit's bytes, valid until the next step; nullptr for a silent unit that
    // cannot be made in its shape.
    const std::uint8_t* data = nullptr;
    std::size_t bytes = 0;
    bool written = true;           // false: an edit cuts it out
    const Unit* taken = nullptr;   // the walk's unit, where the input holds it
    // A timeline unit's number from 1, or, for damage, the number of the first unit in
    // its place; 0 for a unit an edit puts in.
    std::uint64_t timeline_number = 0;
    const Damage* damage = nullptr;
};

struct EditedStream {
    Timeline timeline;
    std::vector<UnitEdit> edits;
    std::size_t next_edit = 0;            // the first edit not yet behind the timeline's position
    std::size_t insertions_end = 0;       // just past the last edit that puts silence in
    std::uint64_t timeline_units = 0;     // timeline units given so far
    std::uint64_t stream_units = stream_end;  // the timeline's units, where known: edits past them end there
    Unit unit;
    Damage damage;
    std::uint64_t damage_units_left = 0;  // silent units of the last damage still to give
    bool holding_first = false;           // the first unit, behind silence put in before it
    std::vector<std::uint8_t> inserted;   // the silent unit an edit puts in
    std::uint64_t inserted_left = 0;
    UnitShape last_given;                 // the last timeline unit given, until the timeline steps on
    std::vector<std::uint8_t> last_unit;  // its copy, while silence past it waits and the end is not known
    bool timeline_ended = false;
};

// stream_units: the timeline's units where an estimate counted them, or stream_end.
EditedStream start_edited_stream(const StreamFormat& format, const FrameSyntax& syntax, std::int64_t file_bytes,
                                 const Playback& playback, std::uint64_t stream_units = stream_end,
                                 std::size_t block_bytes = read_block_bytes);
PartKind next_part(EditedStream& stream, Part& part);
bool read_on(const InputFile& input, EditedStream& stream);

}  // namespace lenfit
