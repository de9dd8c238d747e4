// Shared types of ac3lenfit and mp2lenfit: the command line, the stream format a
// probe finds, the walk of the stream's frames, the length estimate, and the record
// through which a format plugs its frame syntax, probe and reports into the common run.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace lenfit {

// The probe searches the first bytes of the input (after a tag, where the format
// skips one) in this buffer.
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
    // The header fields that every frame of the stream shares with the first one, as
    // the format's stream_key gives them.
    std::uint32_t stream_key = 0;
    // True at the rates where the format mixes two frame lengths to keep the bitrate
    // exact (AC-3 at 44.1 kHz, Layer II at 44.1 and 22.05 kHz).
    bool length_varies = false;
    bool padding_irregular = false;  // Layer II: the stream mixes padded and unpadded frames
};

// What a walk of the whole stream found.
struct WalkSummary {
    std::uint64_t frames = 0;         // frames taken
    std::int64_t end = 0;             // offset just past the last frame taken
    std::int64_t damaged_bytes = 0;   // bytes left out between frames
    std::uint64_t damaged_places = 0;
    std::int32_t lowest_bitrate_kbps = 0;
    std::int32_t highest_bitrate_kbps = 0;
    std::uint64_t long_frames = 0;    // frames whose header announces the longer length
};

struct LengthEstimate {
    std::int64_t file_bytes = 0;
    std::int64_t trailing_junk = 0;
    WalkSummary walk;
    double frames_exact = 0.0;
    std::uint64_t frame_count = 0;
    double original_seconds = 0.0;
    bool has_target = false;
    double frame_difference = 0.0;     // with a target: frames to add (< 0: to drop)
    std::int64_t frames_to_change = 0; // frame_difference truncated
    double interval = 0.0;             // input frames per change; > 0 duplicates
};

// How the format's frames are recognised. Every test is given the count n of bytes at
// hand from its position and looks at no byte past them.
//
// The walk, the estimate and the pass count units: what plays as one step of the
// timeline and is written once, twice or not at all as a whole. A unit is one frame,
// or where the format has substreams, a first frame and the frames that carry it on.
struct FrameSyntax {
    // Enough bytes to hold any unit of the format and the next frame's header.
    std::size_t window_bytes;
    std::uint8_t sync_byte;  // the first byte of every sync word
    bool (*sync_at)(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
    // Length of the frame whose header starts at offset, by its own fields; 0 when
    // there is no sync word, a field is invalid or the header is not complete within n.
    std::uint32_t (*frame_length_at)(const std::uint8_t* bytes, std::size_t n,
                                     std::size_t offset);
    // The fields that tie a frame to its stream, from a header that has a length.
    std::uint32_t (*stream_key)(const std::uint8_t* header);
    // A check over a whole unit (AC-3's CRC words, in every frame of the unit), or
    // nullptr where the format has none; a format without one passes every unit.
    bool (*frame_check)(const std::uint8_t* unit, std::size_t length);
    // Bitrate of a whole unit of `length` bytes.
    std::int32_t (*bitrate_kbps)(const std::uint8_t* unit, std::size_t length);
    // Whether the header announces the longer of the format's two lengths at its
    // bitrate (AC-3's extra word, Layer II's padding byte).
    bool (*is_long_frame)(const std::uint8_t* header);
    // Whether a frame of the stream with this header carries on the unit of the frames
    // before it (an E-AC-3 dependent or further substream), or nullptr where every
    // frame is a unit of its own.
    bool (*continues_unit)(const std::uint8_t* header);
    unsigned max_unit_frames;  // a longer chain is no unit
    // The bits of the header's first eight bytes, as header_bits reads them, on which
    // every answer above about a frame with this header depends: any header with the
    // same bits there is a frame of the same length, stream, bitrate and kind. Called
    // only for a header that frame_length_at measures, with eight bytes at hand.
    std::uint64_t (*deciding_bits)(const std::uint8_t* header);
};

// A header's first eight bytes as one number, to be masked with deciding_bits. A format
// gives its mask the same way, as header_bits of eight mask bytes, so that both agree
// whatever the machine's byte order.
inline std::uint64_t header_bits(const std::uint8_t* header) {
    std::uint64_t bits;
    std::memcpy(&bits, header, sizeof bits);
    return bits;
}

// One format's pieces, as the common run sequence calls them.
struct FormatTool {
    const char* format_tag;  // "ac3" or "mp2", for the usage text
    const FrameSyntax* syntax;
    // Offset of the first confirmed frame in the file, or -1; reads from the start of
    // the input and leaves the bytes it looked at in the probe buffer.
    std::int64_t (*first_frame)(std::FILE* input, ProbeBuffer& probe_buffer,
                                std::size_t& header_at);
    StreamFormat (*probe)(std::FILE* input, const std::string& input_path,
                          ProbeBuffer& probe_buffer);
    // Optional look at the estimate after the length line; may change the format.
    void (*check_estimate)(const LengthEstimate& estimate, StreamFormat& format);
    // Optional line of the format's own after the pass, before the change line.
    void (*report_pass)(const StreamFormat& format, const LengthEstimate& estimate);
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

// ---- the probe's search for the first frame
// A candidate frame at offset whose length, by its own header, lands on another sync
// word, or whose whole frame lies within n and passes the format's frame check.
bool frame_confirmed_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset,
                        const FrameSyntax& syntax);
// Offset of the first confirmed frame below n, or -1.
std::int64_t find_first_frame(const std::uint8_t* bytes, std::size_t n,
                              const FrameSyntax& syntax);
// Reads up to a probe buffer of the input from where it stands and returns the offset
// within the buffer of the first confirmed frame, or -1. A confirmed frame's whole
// header lies in the bytes read.
std::int64_t probe_first_frame(std::FILE* input, ProbeBuffer& probe_buffer,
                               const FrameSyntax& syntax);

// ---- the walk of the stream's units
// Length of a unit of the stream (the first frame's key) at the start of bytes, or 0:
// a first frame of the stream and every frame of the stream that carries it on, as far
// as the n bytes show them. The frames may run past n: callers check the length.
std::uint32_t stream_frame_length(const std::uint8_t* bytes, std::size_t n,
                                  const FrameSyntax& syntax, std::uint32_t stream_key);
// Length of a unit that starts at offset, its stream being that of its own first frame.
std::uint32_t unit_length_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset,
                             const FrameSyntax& syntax);
// Length of a confirmed frame at the start of bytes, or 0: a frame of the stream that
// the file holds whole (to_end bytes are left in the file from there) and that ends
// the file, is followed by another frame of the stream, or passes the frame check.
// n is at least the syntax's window_bytes, or all of to_end.
std::uint32_t confirmed_frame_length(const std::uint8_t* bytes, std::size_t n,
                                     std::int64_t to_end, const FrameSyntax& syntax,
                                     std::uint32_t stream_key);

// A header the walk measured at the start of a unit of one frame: the header's deciding
// bits (as header_bits reads them, masked), their mask, and what that unit was.
struct KnownHeader {
    std::uint64_t bits = 0;
    std::uint64_t mask = 0;
    std::uint32_t length = 0;  // 0: no header known
    std::int32_t bitrate_kbps = 0;
    bool long_frame = false;
};

// Walks the units of a file from its first frame on, front to back, through a window
// of the file mapped into memory: only the headers are looked at (a unit's CRC only
// where nothing else confirms it), so the bytes are never copied to look at them, and
// the pass writes straight from the mapping. A unit that is not confirmed is taken all
// the same when it is whole, passes the frame check and no confirmed frame starts
// inside it; every other byte up to the next confirmed frame is damage, and after the
// last unit, trailing junk.
struct FrameWalk {
    std::FILE* file = nullptr;
    const std::string* path = nullptr;
    const FrameSyntax* syntax = nullptr;
    std::uint32_t stream_key = 0;
    std::int64_t file_bytes = 0;
    std::size_t window = 0;              // windows start on multiples of it, whole pages
    std::size_t reach = 0;               // bytes mapped past the window's end
    const std::uint8_t* mapped = nullptr;  // the window, or nullptr
    std::int64_t base = 0;               // file offset of mapped[0]
    std::size_t filled = 0;              // bytes of the window
    std::int64_t position = 0;           // where the next unit or damage begins
    // Headers of units of one frame that the walk measured. A unit whose header repeats
    // one of them, followed by a header that repeats one too, is such a unit again and
    // confirmed by the next: the walk takes it without measuring either header.
    std::array<KnownHeader, 2> known_headers;
    unsigned next_known_slot = 0;  // the one a newly measured header replaces
    // Called when the window moves or is let go, with its bytes: it unmaps them, at once
    // or once done with them. Without it the walk unmaps them at once. Pointers into the
    // window are the callee's from then on.
    void (*release)(void* context, const std::uint8_t* window, std::size_t length) = nullptr;
    void* release_context = nullptr;
    // Called, where set, when the walk cannot read the file, before the run ends with
    // "Error in reading file"; it may end the process at once instead.
    void (*on_read_error)() = nullptr;
};

struct WalkStep {
    const std::uint8_t* frame = nullptr;  // valid until the next step or release
    std::uint32_t length = 0;
    std::int64_t damaged_bytes = 0;       // left out right before this unit
    std::int32_t bitrate_kbps = 0;        // of the whole unit
    bool long_frame = false;              // its first header announces the longer length
};

// Large enough that the window moves seldom, small enough that memory stays small: a
// unit is at most a few ten thousand bytes. It is the size of the largest page-cache
// folio on x86-64, which a window that starts on a multiple of it maps whole.
constexpr std::size_t stream_window_size = 2 * 1024 * 1024;

// `window` is rounded up to whole pages; each mapping holds it and the reach that a
// unit and its neighbours take past it.
FrameWalk start_walk(std::FILE* file, const std::string& path, const StreamFormat& format,
                     const FrameSyntax& syntax, std::int64_t file_bytes,
                     std::size_t window = stream_window_size);
// The next unit taken, or false at the end, where walk.position is the end of the
// stream and the window is let go. A file that cannot be mapped, or that got shorter
// than file_bytes, ends the run with "Error in reading file".
bool next_frame(FrameWalk& walk, WalkStep& step);
// Streams of at least this many bytes are counted in two halves at once.
constexpr std::int64_t two_halves_bytes = 32 * 1024 * 1024;
// Walks the whole stream and counts what it holds; from halves_from bytes of stream on,
// a second process counts the later half at the same time.
WalkSummary summarize_stream(FrameWalk& walk, std::int64_t halves_from = two_halves_bytes);

// ---- length estimate
LengthEstimate compute_length_estimate(std::int64_t file_bytes, const WalkSummary& walk,
                                       double target_seconds, const StreamFormat& format);
LengthEstimate estimate_length(std::FILE* input, const RunOptions& options,
                               StreamFormat& format, const FormatTool& tool);

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

// Copies the stream's frames as the schedule says, prints the pass's report and
// returns its schedule: frames_read + net_change frames were written.
FrameSchedule run_scaling_pass(std::FILE* input, std::FILE* output, const RunOptions& options,
                               const StreamFormat& format, const LengthEstimate& estimate,
                               const FormatTool& tool);

// ---- the whole run of one tool
int run_lenfit(int argc, const char* const* argv, const FormatTool& tool);

// snprintf into a std::string.
std::string text_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace lenfit
