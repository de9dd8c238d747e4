// libFuzzer target: arbitrary bytes as an input file, through the probe, the tail rule,
// the length estimate and the scaling pass of one format (ac3 when LENFIT_FUZZ_MP2 is
// not defined, Layer II when it is). The target length is chosen by the input's size.
// Without a target the output must be the input's bytes from the first frame on, unchanged.
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
const lenfit::FrameSyntax& syntax = lenfit::layer2_frame_syntax;
// The probe stops the run on any other layer.
bool probe_accepts(const std::uint8_t* header) { return lenfit::layer_field(header) == 2; }
#else
const lenfit::FormatTool& tool = lenfit::ac3_tool;
const lenfit::FrameSyntax& syntax = lenfit::ac3_frame_syntax;
bool probe_accepts(const std::uint8_t*) { return true; }
#endif

constexpr double target_factors[] = {0.0, 0.5, 0.97, 1.0, 1.03, 1.4, 2.5, -1.0};

std::vector<std::uint8_t> read_all(int fd) {
    const off_t length = lseek(fd, 0, SEEK_END);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
    if (pread(fd, bytes.data(), bytes.size(), 0) != length) std::abort();
    return bytes;
}

// A run without a target copies every byte of the stream once, in order: all of it up to
// the end the estimate found when frames are followed one by one, else whole frames
// from the first one on.
void check_unchanged_copy(const std::uint8_t* stream, const std::vector<std::uint8_t>& written,
                          const lenfit::LengthEstimate& estimate, const lenfit::FrameAlignmentRule& rule) {
    const auto stream_bytes = static_cast<std::size_t>(estimate.stream_bytes);
    const bool whole = rule.enabled ? written.size() == stream_bytes
                                    : written.size() <= stream_bytes && written.size() % rule.read_length == 0;
    if (!whole || (!written.empty() && std::memcmp(written.data(), stream, written.size()) != 0)) {
        std::abort();
    }
}

// Frames of one length, scaled: the output is the stream's first frames, in order, each
// written once, twice or not at all.
void check_fixed_frames(const std::uint8_t* stream, const std::vector<std::uint8_t>& written,
                        const lenfit::LengthEstimate& estimate, std::size_t frame) {
    if (written.size() % frame != 0) std::abort();
    const std::size_t frames = static_cast<std::size_t>(estimate.frame_count);
    std::size_t next = 0;       // the first input frame not yet matched
    bool twice = true;          // whether the last match was already written twice
    for (std::size_t at = 0; at < written.size(); at += frame) {
        const std::uint8_t* out = written.data() + at;
        // A second copy of the last frame keeps every later match open, so it goes first.
        if (!twice && std::memcmp(out, stream + (next - 1) * frame, frame) == 0) {
            twice = true;
            continue;
        }
        while (next < frames && std::memcmp(out, stream + next * frame, frame) != 0) ++next;
        if (next == frames) std::abort();
        ++next;
        twice = false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The reports of every run would drown the fuzzer's own.
    return std::freopen("/dev/null", "w", stdout) == nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::FILE* input = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (input == nullptr) return 0;
    lenfit::ProbeBuffer buffer{};
    const std::int64_t first = lenfit::probe_first_frame(input, buffer, syntax);
    if (first < 0 || !probe_accepts(buffer.data() + first) || size < buffer.size()) {
        std::fclose(input);
        return 0;
    }
    // The probe prints the description; the file is then known to hold a frame.
    std::rewind(input);
    lenfit::RunOptions options;
    options.input_path = "fuzz input";
    options.output_path = "/dev/null";
    lenfit::StreamFormat format = tool.probe(input, options.input_path, buffer);

    lenfit::LengthEstimate estimate = lenfit::compute_length_estimate(
        static_cast<std::int64_t>(size), 0, 0.0, format);
    options.target_seconds =
        estimate.original_seconds * target_factors[size % (sizeof target_factors / sizeof *target_factors)];
    estimate = lenfit::estimate_length(input, options, format, buffer, tool);

    // The pass closes the output; a second descriptor keeps it readable.
    const int output_fd = memfd_create("lenfit-fuzz-output", 0);
    const int written_fd = dup(output_fd);
    std::FILE* output = fdopen(output_fd, "wb");
    const lenfit::FrameAlignmentRule rule = tool.alignment_rule(format);
    lenfit::run_scaling_pass(input, output, options, format, estimate, rule);

    const std::vector<std::uint8_t> written = read_all(written_fd);
    close(written_fd);
    const std::uint8_t* stream = data + format.first_frame_offset;
    if (!estimate.has_target) {
        check_unchanged_copy(stream, written, estimate, rule);
    } else if (!rule.enabled) {
        check_fixed_frames(stream, written, estimate, rule.read_length);
    }
    return 0;
}
