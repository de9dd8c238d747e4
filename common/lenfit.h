// Shared types of ac3lenfit and mp2lenfit: the command line, the stream format a
// probe finds, the length estimate, and the record through which a format plugs its
// own probe, tail rule and frame-alignment rule into the common run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace lenfit {

// The probe reads the first bytes of the input into this buffer, the estimate the
// last bytes (the tail window).
constexpr std::size_t probe_buffer_size = 10000;
using ProbeBuffer = std::array<std::uint8_t, probe_buffer_size>;

struct RunOptions {
    double target_seconds = 0.0;  // 0.0: no target
    std::string output_path;      // empty: estimate only
    std::string input_path;
};

struct StreamFormat {
    std::uint32_t first_frame_offset = 0;  // also the count of leading junk bytes
    std::uint32_t frame_bytes = 0;         // length of the first frame
    double frame_seconds = 0.0;            // playing time of one frame
    double sample_rate_khz = 0.0;
    std::int32_t bitrate_kbps = 0;
    // True at the rates where the format mixes two frame lengths to keep the bitrate
    // exact (AC-3 at 44.1 kHz, Layer II at 44.1 and 22.05 kHz). Such a stream is
    // measured by the mean frame length its bitrate implies and copied with an
    // alignment test on every frame.
    bool length_varies = false;
    double mean_frame_bytes = 0.0;
    int odd_frame_size = 0;          // AC-3: first frame carries the extra word
    int padded = 0;                  // Layer II: padding bit of the first frame
    bool padding_irregular = false;  // Layer II: byte count is no whole number of frames
};

struct LengthEstimate {
    std::int64_t file_bytes = 0;
    std::int64_t trailing_junk = 0;
    std::int64_t stream_bytes = 0;  // first frame's start to last complete frame's end
    double frames_exact = 0.0;
    std::uint64_t frame_count = 0;
    double original_seconds = 0.0;
    bool has_target = false;
    double frame_difference = 0.0;     // with a target: frames to add (< 0: to drop)
    std::int64_t frames_to_change = 0; // frame_difference truncated
    double interval = 0.0;             // input frames per change; > 0 duplicates
};

// How the format's frames are recognised in a buffer of n bytes. Both tests look only
// at bytes below n.
struct FrameSyntax {
    bool (*sync_at)(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
    // Length of the frame whose header starts at offset, by its own fields; 0 when
    // the fields are invalid or the header is not complete within n.
    std::uint32_t (*frame_length_at)(const std::uint8_t* bytes, std::size_t n,
                                     std::size_t offset);
    // Whether the header at the start of these n bytes announces the longer of the
    // format's two frame lengths (AC-3's extra word, Layer II's padding byte).
    bool (*is_long_frame)(const std::uint8_t* bytes, std::size_t n);
};

// What the scaling pass needs to know of a format whose frame length varies.
struct FrameAlignmentRule {
    bool enabled = false;           // test every block read
    std::uint32_t read_length = 0;  // bytes read per frame (the shorter length)
    std::uint32_t extra_bytes = 0;  // how much longer a long frame is
    const FrameSyntax* syntax = nullptr;
    // Prints the format's own line, if any, after the pass: `long_frames` counts the
    // frames taken at the long length, by their header or by a realignment.
    void (*report_realignments)(const FrameAlignmentRule& rule, std::uint64_t long_frames) = nullptr;
};

// One format's pieces, as the common run sequence calls them.
struct FormatTool {
    const char* format_tag;  // "ac3" or "mp2", for the usage text
    StreamFormat (*probe)(std::FILE* input, const std::string& input_path,
                          ProbeBuffer& probe_buffer);
    std::int64_t (*trailing_junk)(const ProbeBuffer& window, const StreamFormat& format);
    // Optional look at the estimate after the length line; may change the format.
    void (*check_estimate)(const LengthEstimate& estimate, StreamFormat& format);
    FrameAlignmentRule (*alignment_rule)(const StreamFormat& format);
};

// ---- command line
// Fills options from the arguments after the program name; false for a command line
// that must be answered with the usage text.
bool parse_arguments(int argc, const char* const* argv, RunOptions& options);
void parse_command_line(const char* format_tag, int argc, const char* const* argv,
                        RunOptions& options);
[[noreturn]] void print_usage(const char* format_tag);

// ---- ending a run
// Prints message (one %s, filled with path) to standard output and exits with status 1.
[[noreturn]] void fail_with_path(const char* message, const std::string& path);

// ---- duration display
std::string format_duration(double seconds);
void print_duration(double seconds);

// ---- the stream description's line on frames, the same for every format
std::string frame_line(const StreamFormat& format);

// ---- frames in a buffer
// A candidate frame at offset whose length, by its own header, lands on another sync.
bool frame_confirmed_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset,
                        const FrameSyntax& syntax);
// Offset of the first confirmed frame below n, or -1.
std::int64_t find_first_frame(const std::uint8_t* bytes, std::size_t n,
                              const FrameSyntax& syntax);
// Reads the start of the input into the probe buffer and returns the offset of the
// first confirmed frame, or -1. A confirmed frame's whole header lies in the bytes
// read, since the next frame's sync word, a frame length further, does.
std::int64_t probe_first_frame(std::FILE* input, ProbeBuffer& probe_buffer,
                               const FrameSyntax& syntax);
// The last position from n - 2 down to 1 where a sync word begins; 0 when none does.
std::size_t last_sync_position(const std::uint8_t* window, std::size_t n,
                               const FrameSyntax& syntax);
// Trailing junk in a tail window, found by following frames by their own lengths:
// the bytes after the last whole frame of the last chain, or all of that frame's
// bytes when it is cut short. -1 when the window holds no chain of two frames.
std::int64_t trailing_junk_after_last_frame(const std::uint8_t* window, std::size_t n,
                                            const FrameSyntax& syntax);
// The tail rule of both formats: the junk after the last frame as found above; in a
// window without a chain, the bytes from the last sync word on modulo the first
// frame's length, less extra_bytes when that last frame is long and the first is not.
std::int64_t count_trailing_junk(const ProbeBuffer& window, const FrameSyntax& syntax,
                                 std::uint32_t frame_bytes, bool first_frame_long,
                                 std::uint32_t extra_bytes);

// ---- length estimate
LengthEstimate compute_length_estimate(std::int64_t file_bytes, std::int64_t trailing_junk,
                                       double target_seconds, const StreamFormat& format);
LengthEstimate estimate_length(std::FILE* input, const RunOptions& options,
                               StreamFormat& format, ProbeBuffer& probe_buffer,
                               const FormatTool& tool);

// ---- frame schedule and scaling pass
enum class FrameFate { once, twice, dropped };

struct FrameSchedule {
    double interval = 0.0;          // > 0 duplicates, otherwise drops
    double next_threshold = 0.0;    // a frame numbered above it is changed
    std::int64_t net_change = 0;    // frames written twice minus frames dropped
    std::uint64_t frames_read = 0;  // number of the last frame read, from 1
};

FrameSchedule start_schedule(const LengthEstimate& estimate);
FrameFate schedule_frame(FrameSchedule& schedule, std::uint64_t frame_number);

int run_scaling_pass(std::FILE* input, std::FILE* output, const RunOptions& options,
                     const StreamFormat& format, const LengthEstimate& estimate,
                     const FrameAlignmentRule& rule);

// ---- the whole run of one tool
int run_lenfit(int argc, const char* const* argv, const FormatTool& tool);

// snprintf into a std::string.
std::string text_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace lenfit
