// What a stream format gives the common run, and what the common run gives it back.
// A format fills one FrameSyntax (how its frames are recognised and measured) and one
// FormatTool (its probe and the few values its reports need); the common code never
// asks which format it has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/failure.h"

namespace lenfit {

// The probe looks for the first frame in the first bytes of the stream, this many
// unless the format's units are longer; a file shorter than this holds no stream the
// tools fit.
constexpr std::size_t probe_buffer_size = 10000;
// The stream key of a frame that carries no fields of its stream (a frame that only
// carries on a unit): it belongs to every stream.
constexpr std::uint32_t any_stream_key = 0xFFFFFFFFu;

// The stream as the probe found it, from its first unit.
struct StreamFormat {
    std::uint32_t first_frame_offset = 0;  // also the count of leading junk bytes
    std::uint32_t first_unit_bytes = 0;    // length of the first unit, which the frame line shows
    double frame_seconds = 0.0;            // playing time of one unit
    double sample_rate_khz = 0.0;
    std::int32_t bitrate_kbps = 0;
    // The header fields that every unit of the stream shares with the first one, as
    // the syntax's stream_key gives them.
    std::uint32_t stream_key = 0;
    // True at the rates where the format mixes two frame lengths to keep the bitrate
    // exact (AC-3 at 44.1 kHz, Layer II at 44.1 and 22.05 kHz).
    bool length_varies = false;
};

// How a format's frames are recognised. Every test is given the count n of bytes at
// hand from its position and looks at no byte past them.
//
// The walk, the estimate and the pass count units: what plays as one step of the
// timeline and is written once, twice or not at all as a whole. A unit is one frame,
// or where the format has substreams, a first frame and the frames that carry it on.
struct FrameSyntax {
    // Enough bytes to hold any unit of the format and the next frame's header: the
    // bytes the walk looks at to measure and confirm a unit.
    std::size_t window_bytes;
    std::uint8_t sync_byte;  // the first byte of every sync word
    bool (*sync_at)(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
    // Length of the frame whose header starts at offset, by its own fields; 0 when
    // there is no sync word, a field is invalid or the header is not complete within n.
    std::uint32_t (*frame_length_at)(const std::uint8_t* bytes, std::size_t n, std::size_t offset);
    // The fields that tie a frame to its stream, from a header that has a length, or
    // any_stream_key.
    std::uint32_t (*stream_key)(const std::uint8_t* header);
    // A check over a whole unit (AC-3's CRC words, in every frame of the unit), or
    // nullptr where the format has none.
    bool (*unit_check)(const std::uint8_t* unit, std::size_t length);
    // Where the format has no unit check: whether a whole unit that no next header
    // confirms is taken all the same when no confirmed unit starts inside it (Layer II),
    // or left for damage (DTS, whose decoders find a frame cut short by a loss across a
    // boundary broken).
    bool takes_unconfirmed_units;
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
    // Whether two frame headers have one shape: the fields a silent unit is made from,
    // and the length.
    bool (*same_shape)(const std::uint8_t* header, const std::uint8_t* other);
    // Makes a unit of the shape of the whole unit given (its frames' headers and
    // lengths) that decodes to digital silence; false where the format cannot make one
    // of that shape.
    bool (*silent_unit)(const std::uint8_t* unit, std::size_t length, std::vector<std::uint8_t>& silent);
};

// What a probe found in the first bytes of the stream.
struct ProbeResult {
    Failure failure = Failure::not_this_format;  // none, not_this_format or refused
    // The stream's description, printed also before the failure refused.
    std::string description;
    StreamFormat format;
    std::vector<std::uint8_t> first_unit;  // the bytes of the unit the description describes
};

// One format's pieces, as the common run sequence calls them. The common probe finds
// and confirms the first unit; the format measures and describes it, and may refuse it.
struct FormatTool {
    const char* format_tag;       // "ac3", "mp2" or "dts", for the usage text
    const char* not_this_format;  // the message for Failure::not_this_format, %s the path
    const char* refusal;          // the message for Failure::refused (%s the path, if it names it), or nullptr
    const FrameSyntax* syntax;
    std::size_t probe_bytes;      // bytes the probe reads, at least probe_buffer_size
    // Bytes of a tag that the file begins with (its first bytes, n of them), which the
    // probe skips, or nullptr where the format has none.
    std::uint32_t (*tag_bytes)(const std::uint8_t* bytes, std::size_t n);
    // The stream whose first unit starts at `unit`, n bytes at hand from there, at
    // file offset `offset`.
    StreamFormat (*stream_format)(const std::uint8_t* unit, std::size_t n, std::uint32_t offset);
    // The description's lines before the frame line.
    std::string (*describe)(const std::uint8_t* unit, const StreamFormat& format);
    // Whether the format describes this first unit but does not read its stream, or
    // nullptr where it reads every stream it finds.
    bool (*refuses)(const std::uint8_t* unit);
    // Where no unit was found: whether the n bytes hold the format in a form the tool
    // does not read, or nullptr.
    bool (*refuses_unfound)(const std::uint8_t* bytes, std::size_t n);
    // The reports' lines on long frames (Layer II's padding), or nullptr where the
    // reports speak of none: the line when long and short frames follow no rule, and
    // the count of long frames (%llu) after the pass, where the length varies or
    // follows no rule.
    const char* irregular_long_frames;
    const char* long_frames_count;
};

// ---- pieces of a probe that every format uses
// The stream description's line on the first unit, the same for every format.
std::string frame_line(const StreamFormat& format);
// Bitrate that `length` bytes make over `milliseconds`, kbit/s, to the nearest.
std::int32_t bitrate_over(std::size_t length, double milliseconds);
// The stream whose first unit starts at `unit` (n bytes at hand, at file offset
// `offset`) and plays `samples` samples at rate_khz: the unit's length by the syntax,
// its bitrate and its stream key.
StreamFormat first_unit_format(const std::uint8_t* unit, std::size_t n, std::uint32_t offset,
                               const FrameSyntax& syntax, unsigned samples, double rate_khz);
// Length of a unit that starts at offset, its stream being that of its own first frame.
std::uint32_t unit_bytes_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset,
                            const FrameSyntax& syntax);
// A candidate unit at offset whose length, by its own headers, lands on another sync
// word, or that lies whole within n and passes the unit check.
bool unit_confirmed_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset,
                       const FrameSyntax& syntax);
// Offset of the first confirmed unit below n and probe_buffer_size, or -1.
std::int64_t find_first_frame(const std::uint8_t* bytes, std::size_t n, const FrameSyntax& syntax);
// Finds, confirms and describes the first unit in the n bytes read from file offset
// `at` on.
ProbeResult probe_stream(const std::uint8_t* bytes, std::size_t n, std::uint32_t at, const FormatTool& tool);

}  // namespace lenfit
