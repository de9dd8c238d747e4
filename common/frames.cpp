// Finding frames in a buffer by following them by their own lengths: the probe's
// search for the first frame and the tail window's search for the last one.
#include <algorithm>

#include "lenfit.h"

namespace lenfit {

std::string frame_line(const StreamFormat& format) {
    return text_printf("Each frame is %u bytes, sampling freq is %g kHz, and bitrate is %d kbps.\n",
                       format.frame_bytes, format.sample_rate_khz, format.bitrate_kbps);
}

bool frame_confirmed_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset,
                        const FrameSyntax& syntax) {
    if (!syntax.sync_at(bytes, n, offset)) return false;
    const std::uint32_t length = syntax.frame_length_at(bytes, n, offset);
    return length > 0 && syntax.sync_at(bytes, n, offset + length);
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
    return find_first_frame(probe_buffer.data(), n, syntax);
}

std::size_t last_sync_position(const std::uint8_t* window, std::size_t n,
                               const FrameSyntax& syntax) {
    for (std::size_t p = n - 2; p >= 1 && p < n; --p) {
        if (syntax.sync_at(window, n, p)) return p;
    }
    return 0;
}

std::int64_t trailing_junk_after_last_frame(const std::uint8_t* window, std::size_t n,
                                            const FrameSyntax& syntax) {
    std::int64_t last = -1;
    std::size_t position = 0;
    while (position < n) {
        const std::int64_t first = find_first_frame(window + position, n - position, syntax);
        if (first < 0) break;
        std::size_t frame = position + static_cast<std::size_t>(first);
        std::uint32_t length = syntax.frame_length_at(window, n, frame);
        while (length > 0 && syntax.sync_at(window, n, frame + length)) {
            frame += length;
            length = syntax.frame_length_at(window, n, frame);
        }
        last = static_cast<std::int64_t>(frame);
        position = frame + std::max<std::uint32_t>(length, 1);
    }
    if (last < 0) return -1;
    const std::int64_t rest = static_cast<std::int64_t>(n) - last;
    const std::int64_t length =
        syntax.frame_length_at(window, n, static_cast<std::size_t>(last));
    if (length == 0 || rest < length) return rest;  // the last frame is cut short
    return rest - length;
}

std::int64_t count_trailing_junk(const ProbeBuffer& window, const FrameSyntax& syntax,
                                 std::uint32_t frame_bytes, bool first_frame_long,
                                 std::uint32_t extra_bytes) {
    const std::int64_t junk = trailing_junk_after_last_frame(window.data(), window.size(), syntax);
    if (junk >= 0) return junk;

    // No two frames in the window: take the last sync word for the last frame's start.
    const std::size_t last = last_sync_position(window.data(), window.size(), syntax);
    std::int64_t rest = static_cast<std::int64_t>((window.size() - last) % frame_bytes);
    if (!first_frame_long && syntax.is_long_frame(window.data() + last, window.size() - last)) {
        rest -= extra_bytes;
    }
    return rest < 0 ? 0 : rest;
}

}  // namespace lenfit
