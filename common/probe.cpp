// The probe's search for the first unit of a stream in the bytes it read, and the
// stream description's line on the first unit.
#include "common/probe.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/frame_walk.h"
#include "common/text.h"

namespace lenfit {

std::string frame_line(const StreamFormat& format) {
    return text_printf("Each frame is %u bytes, sampling freq is %g kHz, and bitrate is %d kbps.\n",
                       format.first_unit_bytes, format.sample_rate_khz, format.bitrate_kbps);
}

std::int32_t bitrate_over(std::size_t length, double milliseconds) {
    return static_cast<std::int32_t>(std::lround(static_cast<double>(length) * 8.0 / milliseconds));
}

StreamFormat first_unit_format(const std::uint8_t* unit, std::size_t n, std::uint32_t offset,
                               const FrameSyntax& syntax, unsigned samples, double rate_khz) {
    StreamFormat format;
    format.first_frame_offset = offset;
    format.first_unit_bytes = unit_bytes_at(unit, n, 0, syntax);
    format.sample_rate_khz = rate_khz;
    format.frame_seconds = samples / rate_khz / 1000.0;
    format.bitrate_kbps = syntax.bitrate_kbps(unit, format.first_unit_bytes);
    format.stream_key = syntax.stream_key(unit);
    return format;
}

std::uint32_t unit_bytes_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset,
                            const FrameSyntax& syntax) {
    if (syntax.frame_length_at(bytes, n, offset) == 0) return 0;
    return unit_bytes(bytes + offset, n - offset, syntax, syntax.stream_key(bytes + offset));
}

bool unit_confirmed_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset,
                       const FrameSyntax& syntax) {
    const std::uint32_t length = unit_bytes_at(bytes, n, offset, syntax);
    if (length == 0) return false;
    if (syntax.sync_at(bytes, n, offset + length)) return true;
    // A unit that junk follows still counts when its own check vouches for it.
    return syntax.unit_check != nullptr && length <= n - offset && syntax.unit_check(bytes + offset, length);
}

std::int64_t find_first_frame(const std::uint8_t* bytes, std::size_t n, const FrameSyntax& syntax) {
    // The first unit starts within the first bytes; the bytes after them confirm it.
    for (std::size_t p = 0; p < std::min(n, probe_buffer_size); ++p) {
        if (unit_confirmed_at(bytes, n, p, syntax)) return static_cast<std::int64_t>(p);
    }
    return -1;
}

ProbeResult probe_stream(const std::uint8_t* bytes, std::size_t n, std::uint32_t at, const FormatTool& tool) {
    ProbeResult result;
    const std::int64_t first = find_first_frame(bytes, n, *tool.syntax);
    if (first < 0) {
        if (tool.refuses_unfound != nullptr && tool.refuses_unfound(bytes, n)) result.failure = Failure::refused;
        return result;
    }
    const auto offset = static_cast<std::size_t>(first);
    const std::uint8_t* unit = bytes + offset;
    result.format = tool.stream_format(unit, n - offset, at + static_cast<std::uint32_t>(offset));
    result.description = tool.describe(unit, result.format);
    if (tool.refuses != nullptr && tool.refuses(unit)) {
        result.failure = Failure::refused;
        return result;
    }
    result.failure = Failure::none;
    result.description += frame_line(result.format);
    result.first_unit.assign(unit, unit + result.format.first_unit_bytes);
    return result;
}

ProbeResult probe_input(const InputFile& input, const FormatTool& tool) {
    std::vector<std::uint8_t> probe_buffer(tool.probe_bytes);
    // Read on from the start, so that a pipe is probed as a file is (a read that fails
    // finds no stream).
    std::int64_t n = read_input(input, -1, probe_buffer.data(), probe_buffer.size());
    std::uint32_t at = 0;
    // A tag in front (cover art, titles) is searched past: the stream starts after it.
    const std::uint32_t tag = tool.tag_bytes == nullptr || n < 0
                                  ? 0
                                  : tool.tag_bytes(probe_buffer.data(), static_cast<std::size_t>(n));
    if (tag > 0) {
        at = tag;
        n = read_input(input, tag, probe_buffer.data(), probe_buffer.size());
    }
    if (n < 0) return ProbeResult{};
    return probe_stream(probe_buffer.data(), static_cast<std::size_t>(n), at, tool);
}

}  // namespace lenfit
