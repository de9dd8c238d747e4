#include "common/edit_list.h"

#include <cmath>

namespace lenfit {

std::uint64_t unit_boundary(double seconds, double frame_seconds) {
    return static_cast<std::uint64_t>(std::floor(seconds / frame_seconds + 0.5));
}

std::vector<UnitEdit> edits_in_units(const EditList& list, double frame_seconds) {
    std::vector<UnitEdit> edits;
    for (const EditItem& item : list) {
        UnitEdit edit;
        edit.cut = item.cut;
        edit.first = unit_boundary(item.at, frame_seconds);
        if (item.cut) {
            edit.end = std::isinf(item.end) ? stream_end : unit_boundary(item.end, frame_seconds);
        } else {
            edit.end = edit.first;
            edit.silent_units = unit_boundary(item.seconds, frame_seconds);
        }
        edits.push_back(edit);
    }
    return edits;
}

}  // namespace lenfit
