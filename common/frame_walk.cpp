// The walk of a stream's real frames, which the length estimate and the scaling pass
// share. Each frame is measured by its own header, so bitrate and channel switches,
// mixed frame lengths and padding need nothing special; lost or foreign bytes between
// frames are stepped over up to the next frame that its successor (or the frame's own
// check) confirms. The estimate counts a large stream in two halves at once.
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

#include "lenfit.h"

namespace lenfit {

namespace {

// Length of one frame of the stream at the start of bytes, or 0.
std::uint32_t stream_single_frame_length(const std::uint8_t* bytes, std::size_t n,
                                         const FrameSyntax& syntax, std::uint32_t stream_key) {
    const std::uint32_t length = syntax.frame_length_at(bytes, n, 0);
    if (length == 0 || syntax.stream_key(bytes) != stream_key) return 0;
    return length;
}

// The first frame's length where a unit of the stream starts at bytes (a frame of the
// stream that carries on no unit), or 0. Only its header is looked at.
std::uint32_t unit_first_frame_at(const std::uint8_t* bytes, std::size_t n, const FrameSyntax& syntax,
                                  std::uint32_t stream_key) {
    const std::uint32_t length = stream_single_frame_length(bytes, n, syntax, stream_key);
    if (length == 0 || (syntax.continues_unit != nullptr && syntax.continues_unit(bytes))) return 0;
    return length;
}

// A unit's length (0: no unit), and, where following its frames showed the header
// after it, whether a unit of the stream starts there.
struct MeasuredUnit {
    std::uint32_t length = 0;
    bool next_looked_at = false;
    bool followed_by_unit = false;
};

MeasuredUnit measure_unit(const std::uint8_t* bytes, std::size_t n, const FrameSyntax& syntax,
                          std::uint32_t stream_key) {
    MeasuredUnit unit;
    const std::uint32_t first_frame = unit_first_frame_at(bytes, n, syntax, stream_key);
    if (first_frame == 0 || syntax.continues_unit == nullptr) {
        unit.length = first_frame;
        return unit;
    }
    std::uint32_t length = first_frame;
    for (unsigned frames = 1; length < n; ++frames) {
        const std::uint32_t next = stream_single_frame_length(bytes + length, n - length, syntax, stream_key);
        if (next == 0 || !syntax.continues_unit(bytes + length)) {
            unit.next_looked_at = true;
            unit.followed_by_unit = next > 0;
            break;
        }
        if (frames == syntax.max_unit_frames) return MeasuredUnit{};
        length += next;
    }
    unit.length = length;
    return unit;
}

}  // namespace

std::uint32_t stream_frame_length(const std::uint8_t* bytes, std::size_t n,
                                  const FrameSyntax& syntax, std::uint32_t stream_key) {
    return measure_unit(bytes, n, syntax, stream_key).length;
}

std::uint32_t unit_length_at(const std::uint8_t* bytes, std::size_t n, std::size_t offset,
                             const FrameSyntax& syntax) {
    if (syntax.frame_length_at(bytes, n, offset) == 0) return 0;
    return stream_frame_length(bytes + offset, n - offset, syntax, syntax.stream_key(bytes + offset));
}

std::uint32_t confirmed_frame_length(const std::uint8_t* bytes, std::size_t n,
                                     std::int64_t to_end, const FrameSyntax& syntax,
                                     std::uint32_t stream_key) {
    const MeasuredUnit unit = measure_unit(bytes, n, syntax, stream_key);
    const std::uint32_t length = unit.length;
    if (length == 0 || length > to_end || length > n) return 0;
    if (length == to_end) return length;
    // The next unit's first header confirms this one; its own frames need not be here.
    const bool followed_by_unit = unit.next_looked_at
                                      ? unit.followed_by_unit
                                      : unit_first_frame_at(bytes + length, n - length, syntax, stream_key) > 0;
    if (followed_by_unit) return length;
    if (syntax.frame_check != nullptr && syntax.frame_check(bytes, length)) return length;
    return 0;
}

namespace {

[[noreturn]] void fail_reading(const FrameWalk& walk) {
    if (walk.on_read_error != nullptr) walk.on_read_error();
    fail_with_path("Error in reading file %s\n", *walk.path);
}

std::size_t page_size() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

// A mapped page whose bytes the file no longer holds (someone cut the file short while
// the walk ran) raises SIGBUS when read. Such a page reads as zeros instead, which start
// no frame, and the walk ends the run once it sees the file shorter than measured.
// Any other SIGBUS keeps its default action.
void read_lost_page_as_zeros(int, siginfo_t* info, void*) {
    if (info->si_code != BUS_ADRERR) {
        signal(SIGBUS, SIG_DFL);  // the access faults again and ends the process
        return;
    }
    const std::uintptr_t page = reinterpret_cast<std::uintptr_t>(info->si_addr) & ~(page_size() - 1);
    if (mmap(reinterpret_cast<void*>(page), page_size(), PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1,
             0) == MAP_FAILED) {
        signal(SIGBUS, SIG_DFL);
    }
}

void read_lost_pages_as_zeros() {
    struct sigaction action = {};
    action.sa_sigaction = read_lost_page_as_zeros;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, nullptr);
}

// Whether the file still holds every byte measured before the walk: checked before the
// bytes of a window are written anywhere, so that no page read as zeros is copied.
void check_file_is_whole(const FrameWalk& walk) {
    struct stat status;
    if (fstat(fileno(walk.file), &status) != 0 || status.st_size < walk.file_bytes) fail_reading(walk);
}

// Lets the window go, once whatever points into it is done with.
void unmap_window(FrameWalk& walk) {
    if (walk.mapped == nullptr) return;
    check_file_is_whole(walk);
    if (walk.release != nullptr) {
        walk.release(walk.release_context, walk.mapped, walk.filled);
    } else {
        munmap(const_cast<std::uint8_t*>(walk.mapped), walk.filled);
    }
    walk.mapped = nullptr;
    walk.filled = 0;
}

// Maps the window that holds `at`: from the last multiple of the window size at or
// before it, the window size and the reach after it. Windows that start on such
// multiples map a large page-cache folio whole, which costs a fraction of mapping it
// piece by piece, and the reach lets every unit that starts in one window be read from
// it alone. It stays out of line so that the test the walk makes for every unit, in
// bytes_at, is inlined and small.
[[gnu::noinline]] void map_window(FrameWalk& walk, std::int64_t at) {
    unmap_window(walk);
    const auto start = at - at % static_cast<std::int64_t>(walk.window);
    const std::size_t length = static_cast<std::size_t>(
        std::min<std::int64_t>(static_cast<std::int64_t>(walk.window + walk.reach), walk.file_bytes - start));
    // Mapping every page at once costs less than a fault every few pages, and lets the
    // walk's prefetches land.
    void* window = mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, fileno(walk.file),
                        static_cast<off_t>(start));
    if (window == MAP_FAILED) fail_reading(walk);
    walk.mapped = static_cast<const std::uint8_t*>(window);
    walk.base = start;
    walk.filled = length;
}

// Makes the bytes from `at` on stand in the window, `count` of them or all the file
// has left; returns where they stand and sets n to how many there are.
inline const std::uint8_t* bytes_at(FrameWalk& walk, std::int64_t at, std::size_t count, std::size_t& n) {
    const std::int64_t end = std::min(at + static_cast<std::int64_t>(count), walk.file_bytes);
    if (walk.mapped == nullptr || at < walk.base || end > walk.base + static_cast<std::int64_t>(walk.filled)) {
        map_window(walk, at);
    }
    n = static_cast<std::size_t>(end - at);
    return walk.mapped + (at - walk.base);
}

// The first position from `from` on where a confirmed frame starts, or -1.
std::int64_t next_confirmed_frame(FrameWalk& walk, std::int64_t from) {
    const FrameSyntax& syntax = *walk.syntax;
    std::int64_t q = from;
    while (q < walk.file_bytes) {
        std::size_t n = 0;
        const std::uint8_t* at_q = bytes_at(walk, q, syntax.window_bytes, n);
        // Every position whose frame window lies in the mapped window is searched in one go.
        const std::int64_t held_end = walk.base + static_cast<std::int64_t>(walk.filled);
        const std::int64_t limit = held_end == walk.file_bytes
                                       ? held_end
                                       : held_end - static_cast<std::int64_t>(syntax.window_bytes) + 1;
        const auto stretch = static_cast<std::size_t>(std::max<std::int64_t>(limit - q, 1));
        const auto* sync = static_cast<const std::uint8_t*>(std::memchr(at_q, syntax.sync_byte, stretch));
        if (sync == nullptr) {
            q += static_cast<std::int64_t>(stretch);
            continue;
        }
        q += sync - at_q;
        const auto left = static_cast<std::size_t>(held_end - q);
        if (confirmed_frame_length(sync, left, walk.file_bytes - q, syntax, walk.stream_key) > 0) return q;
        ++q;
    }
    return -1;
}

// Whether a confirmed frame starts inside the `length` bytes of the frame at `frame`,
// of which n stand in the mapped window (two frame windows, or all the file has left).
bool confirmed_frame_inside(const FrameWalk& walk, const std::uint8_t* frame, std::size_t n,
                            std::int64_t frame_at, std::uint32_t length) {
    for (std::uint32_t offset = 1; offset < length; ++offset) {
        if (frame[offset] != walk.syntax->sync_byte) continue;
        if (confirmed_frame_length(frame + offset, n - offset, walk.file_bytes - frame_at - offset,
                                   *walk.syntax, walk.stream_key) > 0) {
            return true;
        }
    }
    return false;
}

// Length of the unit the walk takes at `here`, or 0: a confirmed unit or, where the
// format has no frame check to vouch for it, a whole frame that leads nowhere and holds
// no confirmed frame inside it (which would make it a frame cut short).
std::uint32_t unit_taken_at(const FrameWalk& walk, const std::uint8_t* here, std::size_t n) {
    const FrameSyntax& syntax = *walk.syntax;
    const std::int64_t to_end = walk.file_bytes - walk.position;
    const std::uint32_t confirmed = confirmed_frame_length(here, n, to_end, syntax, walk.stream_key);
    if (confirmed > 0 || syntax.frame_check != nullptr) return confirmed;
    const std::uint32_t length = stream_frame_length(here, n, syntax, walk.stream_key);
    if (length == 0 || length > to_end || length > n) return 0;
    return confirmed_frame_inside(walk, here, n, walk.position, length) ? 0 : length;
}

}  // namespace

FrameWalk start_walk(std::FILE* file, const std::string& path, const StreamFormat& format,
                     const FrameSyntax& syntax, std::int64_t file_bytes, std::size_t window) {
    read_lost_pages_as_zeros();
    FrameWalk walk;
    walk.file = file;
    walk.path = &path;
    walk.syntax = &syntax;
    walk.stream_key = format.stream_key;
    walk.file_bytes = file_bytes;
    const std::size_t page = page_size();
    walk.window = std::max<std::size_t>((window + page - 1) / page * page, page);
    // Room for a unit and every candidate unit that starts inside it.
    walk.reach = (2 * syntax.window_bytes + page - 1) / page * page;
    walk.position = format.first_frame_offset;
    return walk;
}

namespace {

// The known header that the header at `header` repeats, or nullptr; eight bytes are at hand.
inline const KnownHeader* known_header_at(const FrameWalk& walk, const std::uint8_t* header) {
    const std::uint64_t bits = header_bits(header);
    for (const KnownHeader& known : walk.known_headers) {
        if (known.length > 0 && (bits & known.mask) == known.bits) return &known;
    }
    return nullptr;
}

// Remembers the header of a unit the walk measured, when the unit is that header's frame
// alone, in place of the header known longest.
void remember_header(FrameWalk& walk, const std::uint8_t* header, std::size_t n, const WalkStep& step) {
    const FrameSyntax& syntax = *walk.syntax;
    if (n < sizeof(std::uint64_t) || syntax.frame_length_at(header, n, 0) != step.length) return;
    if (known_header_at(walk, header) != nullptr) return;
    const std::uint64_t mask = syntax.deciding_bits(header);
    walk.known_headers[walk.next_known_slot] =
        KnownHeader{header_bits(header) & mask, mask, step.length, step.bitrate_kbps, step.long_frame};
    walk.next_known_slot = (walk.next_known_slot + 1) % walk.known_headers.size();
}

// Takes the unit at `here` into the step and moves the walk past it.
inline void take_unit(FrameWalk& walk, WalkStep& step, const std::uint8_t* here, std::uint32_t length) {
    // How many units ahead the walk asks for the header it will read.
    constexpr std::size_t ahead = 24;
    // The headers are all the walk reads of most pages: ask for the header a few units
    // on while this one is handled, as units mostly keep their length.
    const auto later = static_cast<std::size_t>(here - walk.mapped) + ahead * length;
    if (later < walk.filled) __builtin_prefetch(walk.mapped + later);
    step.frame = here;
    step.length = length;
    walk.position += length;
}

// Takes the unit at the walk's position when its header and the next unit's repeat
// headers the walk knows, as most units do; false, taking nothing, otherwise.
inline bool take_repeated_unit(FrameWalk& walk, WalkStep& step) {
    constexpr std::size_t header_bytes = sizeof(std::uint64_t);
    if (walk.position >= walk.file_bytes) return false;
    std::size_t n = 0;
    const std::uint8_t* here = bytes_at(walk, walk.position, 2 * walk.syntax->window_bytes, n);
    const KnownHeader* known = n >= header_bytes ? known_header_at(walk, here) : nullptr;
    if (known == nullptr || n < known->length + header_bytes) return false;
    if (known_header_at(walk, here + known->length) == nullptr) return false;
    step.damaged_bytes = 0;
    step.bitrate_kbps = known->bitrate_kbps;
    step.long_frame = known->long_frame;
    take_unit(walk, step, here, known->length);
    return true;
}

// Takes the next unit by measuring it, past any damage before it; false at the end.
// Out of line, so that the walk's usual step, take_repeated_unit, stays small.
[[gnu::noinline]] bool take_measured_unit(FrameWalk& walk, WalkStep& step) {
    step.damaged_bytes = 0;
    while (walk.position < walk.file_bytes) {
        const std::int64_t at = walk.position;
        std::size_t n = 0;
        // Room for the frame here and for every candidate frame that starts inside it.
        const std::uint8_t* here = bytes_at(walk, at, 2 * walk.syntax->window_bytes, n);
        const std::uint32_t length = unit_taken_at(walk, here, n);
        if (length > 0) {
            step.length = length;
            step.bitrate_kbps = walk.syntax->bitrate_kbps(here, length);
            step.long_frame = walk.syntax->is_long_frame(here);
            remember_header(walk, here, n, step);
            take_unit(walk, step, here, length);
            return true;
        }
        const std::int64_t next = next_confirmed_frame(walk, at + 1);
        if (next < 0) break;  // the rest is trailing junk
        step.damaged_bytes += next - at;
        walk.position = next;
    }
    unmap_window(walk);
    return false;
}

}  // namespace

bool next_frame(FrameWalk& walk, WalkStep& step) {
    return take_repeated_unit(walk, step) || take_measured_unit(walk, step);
}

namespace {

// Widens the bitrates of a count to take in those from `lowest` to `highest`.
void take_in_bitrates(WalkSummary& summary, std::int32_t lowest, std::int32_t highest) {
    if (summary.frames == 0 || lowest < summary.lowest_bitrate_kbps) summary.lowest_bitrate_kbps = lowest;
    if (summary.frames == 0 || highest > summary.highest_bitrate_kbps) summary.highest_bitrate_kbps = highest;
}

// Adds the count of the units that follow those of `summary`.
void add_later_units(WalkSummary& summary, const WalkSummary& later) {
    summary.end = later.end;
    if (later.frames == 0) return;
    take_in_bitrates(summary, later.lowest_bitrate_kbps, later.highest_bitrate_kbps);
    summary.frames += later.frames;
    summary.damaged_bytes += later.damaged_bytes;
    summary.damaged_places += later.damaged_places;
    summary.long_frames += later.long_frames;
}

// Counts one unit the walk took.
void count_unit(WalkSummary& summary, const WalkStep& step) {
    take_in_bitrates(summary, step.bitrate_kbps, step.bitrate_kbps);
    ++summary.frames;
    if (step.damaged_bytes > 0) {
        summary.damaged_bytes += step.damaged_bytes;
        ++summary.damaged_places;
    }
    if (step.long_frame) ++summary.long_frames;
}

constexpr std::int64_t to_the_end = std::numeric_limits<std::int64_t>::max();

// Counts the units the walk takes until it stands at `until` or past it; true when the
// stream ended first.
bool count_units(FrameWalk& walk, WalkSummary& summary, std::int64_t until) {
    WalkStep step;
    bool ended = false;
    while (walk.position < until && !ended) {
        ended = !next_frame(walk, step);
        if (!ended) count_unit(summary, step);
    }
    summary.end = walk.position;
    return ended;
}

// The count of a stream's later half: the units from counted_from on (-1: none).
struct LaterHalf {
    std::int64_t counted_from = -1;
    WalkSummary summary;
};

// Units the walk of the later half takes before it counts. It starts at the first
// confirmed frame past the middle; the walk from the front, which may step over damage
// there otherwise, has these units to fall into step with it.
constexpr unsigned units_to_fall_into_step = 16;

LaterHalf count_later_half(FrameWalk& walk, std::int64_t middle) {
    LaterHalf later;
    const std::int64_t first = next_confirmed_frame(walk, middle);
    if (first < 0) return later;
    walk.position = first;
    WalkStep step;
    for (unsigned units = 0; units < units_to_fall_into_step && next_frame(walk, step); ++units) {
    }
    later.counted_from = walk.position;
    count_units(walk, later.summary, to_the_end);
    return later;
}

// The later half's walk runs in a process of its own: two threads of one process
// mapping and unmapping windows wait on each other's changes to its memory map, two
// processes do not. A child that cannot read the file just ends; the walk from the
// front then walks that half too, and ends the run if it cannot either.
void end_child() { _exit(1); }

struct Child {
    pid_t pid = -1;
    int result = -1;  // read end of the pipe the child sends its LaterHalf through
};

Child start_later_half(const FrameWalk& walk, std::int64_t middle) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) return Child{};
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipe_ends[0]);
        FrameWalk own = walk;
        own.mapped = nullptr;
        own.release = nullptr;
        own.on_read_error = end_child;
        const LaterHalf later = count_later_half(own, middle);
        // The child never returns, prints nor flushes what the parent has yet to print.
        _exit(write(pipe_ends[1], &later, sizeof later) == sizeof later ? 0 : 1);
    }
    close(pipe_ends[1]);
    if (pid < 0) {
        close(pipe_ends[0]);
        return Child{};
    }
    return Child{pid, pipe_ends[0]};
}

// The child's count, once it is done; false when it sent none.
bool receive_later_half(const Child& child, LaterHalf& later) {
    ssize_t got = 0;
    do {
        got = read(child.result, &later, sizeof later);
    } while (got < 0 && errno == EINTR);
    close(child.result);
    int status = 0;
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    return got == static_cast<ssize_t>(sizeof later) && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

WalkSummary summarize_stream(FrameWalk& walk, std::int64_t halves_from) {
    WalkSummary summary;
    const std::int64_t stream_bytes = walk.file_bytes - walk.position;
    const std::int64_t middle = walk.position + stream_bytes / 2;
    const Child child = stream_bytes >= halves_from ? start_later_half(walk, middle) : Child{};
    if (child.pid < 0) {
        count_units(walk, summary, to_the_end);
        return summary;
    }
    // The walk goes the same way from wherever it stands: once the walk from the front
    // stands where the later half's count starts, the rest of its count is that one.
    bool ended = count_units(walk, summary, middle);
    LaterHalf later;
    if (receive_later_half(child, later) && !ended && later.counted_from >= 0) {
        ended = count_units(walk, summary, later.counted_from);
        if (!ended && walk.position == later.counted_from) {
            unmap_window(walk);
            add_later_units(summary, later.summary);
            return summary;
        }
    }
    if (!ended) count_units(walk, summary, to_the_end);
    return summary;
}

}  // namespace lenfit
