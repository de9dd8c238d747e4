// libFuzzer target: arbitrary bytes as an input file, through the probe, the walk, the
// length estimate and the scaling pass of one format (ac3 when LENFIT_FUZZ_MP2 is not
// defined, Layer II when it is). The target length is chosen by the input's size.
//
// What every run must hold: each unit of the walk (a frame, or an E-AC-3 frame with
// the substream frames that carry it on) starts with a header of the stream and has
// the length its frames' headers give; a walk through a buffer of a few units finds
// the same units as the pass's; and the output is exactly those units, in order, each
// written 0, 1 or 2 times as the schedule says (once each without a target), as many
// as the pass reports.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifdef LENFIT_FUZZ_MP2
#include "mp2/mp2_format.h"
#else
#include "ac3/ac3_format.h"
#endif

namespace {

#ifdef LENFIT_FUZZ_MP2
const lenfit::FormatTool& tool = lenfit::mp2_tool;
// The probe stops the run on any other layer.
bool probe_accepts(const std::uint8_t* header) { return lenfit::layer_field(header) == 2; }
#else
const lenfit::FormatTool& tool = lenfit::ac3_tool;
bool probe_accepts(const std::uint8_t*) { return true; }
#endif

constexpr double target_factors[] = {0.0, 0.5, 0.97, 1.0, 1.03, 1.4, 2.5, -1.0};

struct Frame {
    std::size_t offset;
    std::size_t length;
};

std::vector<std::uint8_t> read_all(int fd) {
    const off_t length = lseek(fd, 0, SEEK_END);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (length > 0 && pread(fd, bytes.data(), bytes.size(), 0) != length) std::abort();
    return bytes;
}

// The input as the tools open a file: with a descriptor, so that it can be mapped.
std::FILE* memory_file(const std::uint8_t* data, std::size_t size) {
    const int fd = memfd_create("lenfit-fuzz-input", 0);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) std::abort();
    return fdopen(fd, "rb");
}

// The units of the walk, through the smallest window the walk takes, or a few pages
// more, so that it moves every few units.
std::vector<Frame> walk_frames(const std::uint8_t* data, std::size_t size, const lenfit::StreamFormat& format) {
    std::FILE* input = memory_file(data, size);
    const std::string path = "fuzz input";
    lenfit::FrameWalk walk = lenfit::start_walk(input, path, format, *tool.syntax, static_cast<std::int64_t>(size),
                                                size % 5 * 4096);
    std::vector<Frame> frames;
    std::size_t end = format.first_frame_offset;
    lenfit::WalkStep step;
    while (lenfit::next_frame(walk, step)) {
        const auto offset = static_cast<std::size_t>(walk.position) - step.length;
        // In order, not overlapping, and measured by the frame's own header.
        if (offset < end || std::memcmp(step.frame, data + offset, step.length) != 0) std::abort();
        if (offset + step.length > size) std::abort();
        if (lenfit::stream_frame_length(data + offset, size - offset, *tool.syntax, format.stream_key) !=
            step.length) {
            std::abort();
        }
        frames.push_back({offset, step.length});
        end = offset + step.length;
    }
    std::fclose(input);
    return frames;
}

// What the pass must have written: every frame as the schedule decides.
std::vector<std::uint8_t> scheduled_output(const std::uint8_t* data, const std::vector<Frame>& frames,
                                           const lenfit::LengthEstimate& estimate) {
    lenfit::FrameSchedule schedule = lenfit::start_schedule(estimate);
    std::vector<std::uint8_t> expected;
    for (const Frame& frame : frames) {
        const lenfit::FrameFate fate = lenfit::schedule_frame(schedule, ++schedule.frames_read);
        if (!estimate.has_target && fate != lenfit::FrameFate::once) std::abort();
        const int copies = fate == lenfit::FrameFate::once ? 1 : fate == lenfit::FrameFate::twice ? 2 : 0;
        for (int copy = 0; copy < copies; ++copy) {
            expected.insert(expected.end(), data + frame.offset, data + frame.offset + frame.length);
        }
    }
    return expected;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reports of every run would drown the fuzzer's own.
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Shorter inputs end the run after the description, by design.
    if (size < lenfit::probe_buffer_size) return 0;
    std::FILE* input = memory_file(data, size);
    lenfit::ProbeBuffer buffer{};
    std::size_t header_at = 0;
    const std::int64_t first = tool.first_frame(input, buffer, header_at);
    if (first < 0 || !probe_accepts(buffer.data() + header_at)) {
        std::fclose(input);
        return 0;
    }
    // The probe prints the description; the file is then known to hold a frame.
    std::rewind(input);
    lenfit::RunOptions options;
    options.input_path = "fuzz input";
    options.output_path = "/dev/null";
    lenfit::StreamFormat format = tool.probe(input, options.input_path, buffer);
    const std::vector<Frame> frames = walk_frames(data, size, format);

    const double length = static_cast<double>(frames.size()) * format.frame_seconds;
    options.target_seconds = length * target_factors[size % (sizeof target_factors / sizeof *target_factors)];
    const lenfit::LengthEstimate estimate = lenfit::estimate_length(input, options, format, tool);
    if (estimate.frame_count != frames.size()) std::abort();

    // The pass closes the output; a second descriptor keeps it readable.
    const int output_fd = memfd_create("lenfit-fuzz-output", 0);
    const int written_fd = dup(output_fd);
    std::FILE* output = fdopen(output_fd, "wb");
    const lenfit::FrameSchedule schedule =
        lenfit::run_scaling_pass(input, output, options, format, estimate, tool);
    const std::vector<std::uint8_t> written = read_all(written_fd);
    close(written_fd);

    if (schedule.frames_read != frames.size()) std::abort();
    if (written != scheduled_output(data, frames, estimate)) std::abort();
    // The report's count: every frame written, each copy once.
    std::size_t copies = 0;
    for (std::size_t at = 0; at < written.size(); ++copies) {
        const std::uint32_t frame =
            lenfit::stream_frame_length(written.data() + at, written.size() - at, *tool.syntax, format.stream_key);
        if (frame == 0) std::abort();
        at += frame;
    }
    if (static_cast<std::int64_t>(copies) != static_cast<std::int64_t>(schedule.frames_read) + schedule.net_change) {
        std::abort();
    }
    return 0;
}
