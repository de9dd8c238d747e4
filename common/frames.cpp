// The probe's search for the first frame of a stream in the bytes it read, and the
// stream description's line on frames.
#include <algorithm>

#include "lenfit.h"

namespace lenfit {

std::string frame_line(const StreamFormat& format) {
    return text_printf("Each frame is %u bytes, sampling freq is %g kHz, and bitrate is %d kbps.\n",
                       format.frame_bytes, format.sample_rate_khz, format.bitrate_kbps);
}

bool frame_confirmed_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset,
                        const FrameSyntax& syntax) {
    const std::uint32_t length = unit_length_at(bytes, n, offset, syntax);
    if (length == 0) return false;
    if (syntax.sync_at(bytes, n, offset + length)) return true;
    // A frame that junk follows still counts when its own check vouches for it.
    return syntax.frame_check != nullptr && length <= n - offset &&
           syntax.frame_check(bytes + offset, length);
}

std::int64_t find_first_frame(const std::uint8_t* bytes, std::size_t n,
                              const FrameSyntax& syntax) {
    for (std::size_t p = 0; p < n; ++p) {
        if (frame_confirmed_at(bytes, n, p, syntax)) return static_cast<std::int64_t>(p);
    }
    return -1;
}

std::int64_t probe_first_frame(std::FILE* input, ProbeBuffer& probe_buffer,
                               const FrameSyntax& syntax) {
    const std::size_t n = std::fread(probe_buffer.data(), 1, probe_buffer.size(), input);
    // Past the bytes read the buffer holds zeros, which start no frame: a unit read
    // from the whole buffer ends where the input did.
    std::fill(probe_buffer.begin() + static_cast<std::ptrdiff_t>(n), probe_buffer.end(), 0);
    return find_first_frame(probe_buffer.data(), n, syntax);
}

}  // namespace lenfit
