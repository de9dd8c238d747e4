#include "common/edited_stream.h"

#include <algorithm>

namespace lenfit {

EditedStream start_edited_stream(const StreamFormat& format, const FrameSyntax& syntax, std::int64_t file_bytes,
                                 const Playback& playback, std::uint64_t stream_units, std::size_t block_bytes) {
    EditedStream stream;
    stream.timeline = start_timeline(format, syntax, file_bytes, playback.keep_timeline, block_bytes);
    stream.edits = playback.edits;
    for (std::size_t i = 0; i < stream.edits.size(); ++i) {
        if (!stream.edits[i].cut) stream.insertions_end = i + 1;
    }
    stream.stream_units = stream_units;
    return stream;
}

bool read_on(const InputFile& input, EditedStream& stream) { return read_on(input, stream.timeline); }

namespace {

// An edit's boundary, at most the end of the timeline where it is known.
std::uint64_t boundary(const EditedStream& stream, std::uint64_t units) {
    return std::min(units, stream.stream_units);
}

const UnitEdit* next_edit(const EditedStream& stream) {
    return stream.next_edit < stream.edits.size() ? &stream.edits[stream.next_edit] : nullptr;
}

// Steps past the cuts that end at or before a boundary.
void pass_cuts_ended(EditedStream& stream, std::uint64_t at) {
    while (next_edit(stream) != nullptr && next_edit(stream)->cut && boundary(stream, next_edit(stream)->end) <= at) {
        ++stream.next_edit;
    }
}

// Whether an edit puts silence in at the timeline's position.
bool insertion_here(EditedStream& stream) {
    pass_cuts_ended(stream, stream.timeline_units);
    const UnitEdit* edit = next_edit(stream);
    return edit != nullptr && !edit->cut && boundary(stream, edit->first) == stream.timeline_units;
}

// Whether an edit still to come puts silence in.
bool insertion_to_come(const EditedStream& stream) { return stream.next_edit < stream.insertions_end; }

// Starts the silence of the insertion at the position, in the shape of the unit given.
void start_insertion(EditedStream& stream, const std::uint8_t* shape, std::size_t bytes) {
    const UnitEdit& edit = stream.edits[stream.next_edit++];
    stream.inserted_left = edit.silent_units;
    if (edit.silent_units > 0 && !stream.timeline.walk.syntax->silent_unit(shape, bytes, stream.inserted)) {
        stream.inserted.clear();
    }
}

PartKind give_inserted_unit(EditedStream& stream, Part& part) {
    --stream.inserted_left;
    part = Part{};
    part.data = stream.inserted.empty() ? nullptr : stream.inserted.data();
    part.bytes = stream.inserted.size();
    return PartKind::unit;
}

// Gives the next unit of the timeline: cut or not, and after it, silence that an edit
// puts in at the boundary it ends.
PartKind give_timeline_unit(EditedStream& stream, Part& part, const std::uint8_t* data, std::size_t bytes,
                            const Unit* taken) {
    const std::uint64_t index = stream.timeline_units++;
    pass_cuts_ended(stream, index);
    const UnitEdit* edit = next_edit(stream);
    part = Part{};
    part.data = data;
    part.bytes = bytes;
    part.taken = taken;
    part.timeline_number = index + 1;
    part.written = !(edit != nullptr && edit->cut && edit->first <= index);
    stream.last_given = {data, bytes};
    if (stream.stream_units == stream_end && insertion_to_come(stream)) {
        // Where the timeline ends is not known yet: an insertion past its end takes the
        // shape of its last unit.
        stream.last_unit.assign(data, data + (data != nullptr ? bytes : 0));
    }
    return PartKind::unit;
}

}  // namespace

PartKind next_part(EditedStream& stream, Part& part) {
    for (;;) {
        if (stream.inserted_left > 0) return give_inserted_unit(stream, part);
        // Silence put in after a unit takes its shape; before the first unit, that one's.
        if (stream.holding_first && insertion_here(stream)) {
            start_insertion(stream, stream.unit.data, stream.unit.bytes);
            continue;
        }
        if (stream.holding_first) {
            stream.holding_first = false;
            return give_timeline_unit(stream, part, stream.unit.data, stream.unit.bytes, &stream.unit);
        }
        if (stream.timeline_units > 0 && !stream.timeline_ended && insertion_here(stream)) {
            start_insertion(stream, stream.last_given.data, stream.last_given.bytes);
            continue;
        }
        if (stream.damage_units_left > 0) {
            const std::vector<std::uint8_t>& silent = stream.damage.silent_unit;
            const std::uint8_t* data = silent.empty() ? nullptr : silent.data();
            if (stream.timeline_units == 0 && insertion_here(stream)) {
                start_insertion(stream, data, silent.size());
                continue;
            }
            --stream.damage_units_left;
            return give_timeline_unit(stream, part, data, silent.size(), nullptr);
        }
        if (stream.timeline_ended) {
            // Silence put in past the end of the timeline.
            const UnitEdit* edit = next_edit(stream);
            if (edit == nullptr) return PartKind::end;
            if (edit->cut) {
                ++stream.next_edit;
                continue;
            }
            start_insertion(stream, stream.last_unit.data(), stream.last_unit.size());
            continue;
        }
        switch (next_step(stream.timeline, stream.unit, stream.damage)) {
            case TimelineStep::needs_bytes:
                return PartKind::needs_bytes;
            case TimelineStep::end:
                stream.timeline_ended = true;
                continue;
            case TimelineStep::damage:
                stream.damage_units_left = stream.damage.silent_units;
                part = Part{};
                part.timeline_number = stream.timeline_units + 1;
                part.damage = &stream.damage;
                return PartKind::damage;
            case TimelineStep::unit:
                break;
        }
        if (stream.timeline_units == 0 && insertion_here(stream)) {
            stream.holding_first = true;
            continue;
        }
        return give_timeline_unit(stream, part, stream.unit.data, stream.unit.bytes, &stream.unit);
    }
}

}  // namespace lenfit
