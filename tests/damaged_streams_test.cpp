// Real encoder output damaged the way broadcast captures and downloads are: lost
// transport packets inside a frame and across a boundary, splices with a frame cut
// short, bitrate and channel-mode switches, junk and tags between and after frames, an
// ID3v2 tag in front, flipped bits. For each, the tools must write exactly the frames
// that survived (each once, twice or not at all) and ffmpeg must decode every output
// without an error.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>

#include "stream_builder.h"
#include "target_factors.h"
#include "tool_runner.h"

namespace {

using testkit::Bytes;

struct DamagedStream {
    std::string name;
    const testkit::FormatCase* format = nullptr;
    Bytes file;
    std::vector<Bytes> frames;  // the frames that survive, in order
    // With -k: the units taken, and silent units in the place of each region of damage.
    std::vector<Bytes> timeline;
    bool flipped_bits = false;  // kept frames a decoder conceals
    bool built = false;         // frames built byte by byte, with bodies no decoder takes
};

// The units of a fixture: frames, or E-AC-3 frames with their substreams.
std::vector<Bytes> frames_of(const char* fixture) {
    const Bytes stream = testkit::read_file(std::string(FIXTURES_DIR) + "/" + fixture);
    return testkit::format_of(fixture).split_units(stream);
}

Bytes noise(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

Bytes id3v1_tag() {
    Bytes tag(128, 0);
    std::copy_n("TAGTrack title", 14, tag.begin());
    return tag;
}

// A stream assembled from pieces: frames that survive, and bytes that do not.
struct Builder {
    DamagedStream stream;
    Builder& frames(const std::vector<Bytes>& frames, std::size_t from = 0, std::size_t to = SIZE_MAX) {
        for (std::size_t i = from; i < std::min(to, frames.size()); ++i) kept(frames[i]);
        return *this;
    }
    Builder& kept(const Bytes& frame) {
        testkit::append(stream.file, frame);
        stream.frames.push_back(frame);
        stream.timeline.push_back(frame);
        return *this;
    }
    // Bytes that do not survive; with -k, `silent_units` of the shape of `shape` take
    // their place.
    Builder& lost(const Bytes& bytes, std::size_t silent_units = 0, const Bytes& shape = {}) {
        testkit::append(stream.file, bytes);
        stream.timeline.insert(stream.timeline.end(), silent_units, silent_unit_of(shape));
        return *this;
    }
    // A frame whose bits were flipped: kept, but with -k it fails its CRC and a silent
    // unit of the shape of the frame before takes its place.
    Builder& flipped(const Bytes& frame, const Bytes& frame_before) {
        testkit::append(stream.file, frame);
        stream.frames.push_back(frame);
        stream.timeline.push_back(silent_unit_of(frame_before));
        stream.flipped_bits = true;
        return *this;
    }
    static Bytes silent_unit_of(const Bytes& shape) {
        Bytes silent;
        if (shape.empty()) return silent;
        for (const testkit::FormatCase& format : testkit::format_cases()) {
            if (format.first_byte == shape[0]) {
                EXPECT_TRUE(format.silent_unit(shape.data(), shape.size(), silent));
            }
        }
        return silent;
    }
};

Bytes bytes_between(const std::vector<Bytes>& frames, std::size_t from, std::size_t to) {
    Bytes bytes;
    for (std::size_t i = from; i < to; ++i) testkit::append(bytes, frames[i]);
    return bytes;
}

// Frames from `from` on with `count` bytes lost `into` bytes after the start of frame
// `from`, up to the first frame the hole leaves whole; the index of that frame.
std::size_t frames_with_hole(const std::vector<Bytes>& frames, std::size_t from, std::size_t into,
                             std::size_t count, Bytes& damaged) {
    std::size_t end = from;
    std::size_t length = 0;
    while (length < into + count) length += frames[end++].size();
    damaged = bytes_between(frames, from, end);
    damaged.erase(damaged.begin() + static_cast<long>(into), damaged.begin() + static_cast<long>(into + count));
    return end;
}

std::vector<DamagedStream> damaged_streams() {
    const auto stereo48 = frames_of("ac3_48k_stereo_192k.ac3");
    const auto surround48 = frames_of("ac3_48k_5.1_384k.ac3");
    const auto stereo44 = frames_of("ac3_44k_stereo_192k.ac3");
    const auto mono44 = frames_of("ac3_44k_mono_32k.ac3");
    const auto mp2_192 = frames_of("mp2_48k_stereo_192k.mp2");
    const auto mp2_384 = frames_of("mp2_48k_stereo_384k.mp2");
    const auto mp2_44 = frames_of("mp2_44k_stereo_128k.mp2");
    const auto mp2_44_mono = frames_of("mp2_44k_mono_48k.mp2");
    const auto eac3_stereo = frames_of("eac3_48k_stereo_96k.eac3");
    const auto eac3_surround = frames_of("eac3_48k_5.1_192k.eac3");
    const auto eac3_3_blocks = frames_of("eac3_48k_stereo_1536k.eac3");
    const auto dts_surround = frames_of("dts_48k_5.1_768k.dts");
    const auto dts_quad = frames_of("dts_48k_quad_640k.dts");
    const auto dts_stereo = frames_of("dts_48k_stereo_320k.dts");
    std::vector<DamagedStream> streams;
    const auto add = [&](const char* name, Builder& builder) {
        builder.stream.name = name;
        builder.stream.format = &testkit::format_of(name);
        streams.push_back(builder.stream);
    };
    Bytes damaged;
    // The frames before `from`, the frames the hole damages, and the rest of the stream;
    // with -k, `silent_units` of the shape of `shape` in the hole's place.
    const auto add_hole = [&](const char* name, const std::vector<Bytes>& frames, std::size_t from,
                              std::size_t into, std::size_t count, std::size_t silent_units, const Bytes& shape) {
        Builder builder;
        const std::size_t after = frames_with_hole(frames, from, into, count, damaged);
        builder.frames(frames, 0, from).lost(damaged, silent_units, shape).frames(frames, after);
        add(name, builder);
    };

    Builder ac3_switches;
    ac3_switches.frames(stereo48).frames(surround48).frames(stereo48);
    add("ac3_bitrate_and_channel_switches", ac3_switches);

    // A hole starts inside a frame whose header survived: silent units cover the rest
    // of it (and of the frame after, where the hole runs into it), shaped after the
    // frame before where its shape is the same.
    add_hole("ac3_packets_lost_inside_a_frame", stereo48, 10, 200, 2 * 184, 1, stereo48[9]);
    add_hole("ac3_packets_lost_across_a_boundary", stereo48, 10, stereo48[10].size() - 100, 3 * 184, 2, stereo48[9]);
    // At 44.1 kHz the frame before may be of the other length.
    add_hole("ac3_44k_packets_lost", stereo44, 20, 50, 4 * 184, 1,
             stereo44[19][4] == stereo44[20][4] ? stereo44[19] : stereo44[20]);

    Builder ac3_44k_switch;
    ac3_44k_switch.frames(stereo44).frames(mono44).frames(stereo44, 0, 20);
    add("ac3_44k_bitrate_and_channel_switches", ac3_44k_switch);

    Builder ac3_splice;  // a frame cut short where the second stream was spliced in
    ac3_splice.frames(stereo48, 0, 30)
        .lost(Bytes(stereo48[30].begin(), stereo48[30].begin() + 300), 1, stereo48[29])
        .frames(surround48);
    add("ac3_splice_with_a_frame_cut_short", ac3_splice);

    Builder ac3_junk;
    ac3_junk.frames(stereo48, 0, 10).lost(noise(333, 1)).frames(stereo48, 10, 40).lost(id3v1_tag())
        .frames(stereo48, 40).lost(id3v1_tag());
    add("ac3_junk_and_id3v1_between_and_after", ac3_junk);

    Builder ac3_packets;  // sixteen bytes of packet header before every frame
    for (std::size_t i = 0; i < surround48.size(); ++i) ac3_packets.lost(noise(16, 100 + i)).kept(surround48[i]);
    add("ac3_packet_header_before_every_frame", ac3_packets);

    Builder ac3_flips;
    for (std::size_t i = 0; i < stereo48.size(); ++i) {
        Bytes frame = stereo48[i];
        if (i % 7 != 3) {
            ac3_flips.kept(frame);
            continue;
        }
        frame[frame.size() / 2] ^= 0x20;
        ac3_flips.flipped(frame, stereo48[i - 1]);
    }
    add("ac3_flipped_bits_inside_frames", ac3_flips);

    // Dolby Digital, then Dolby Digital Plus of the same rate and frame time at two
    // bitrates and channel modes, with junk between its frames (nearer one 384-byte
    // unit than none), then Dolby Digital.
    Builder ac3_to_eac3;
    ac3_to_eac3.frames(stereo48, 0, 30).frames(eac3_stereo, 0, 10).lost(noise(333, 4), 1, eac3_stereo[9]);
    ac3_to_eac3.frames(eac3_stereo, 10);
    ac3_to_eac3.frames(eac3_surround).frames(stereo48, 30).lost(id3v1_tag());
    add("ac3_and_eac3_switches_with_junk", ac3_to_eac3);

    add_hole("eac3_packets_lost_inside_a_frame", eac3_surround, 10, 200, 2 * 184, 1, eac3_surround[9]);
    add_hole("eac3_3_blocks_packets_lost_across_a_boundary", eac3_3_blocks, 4, eac3_3_blocks[4].size() - 100,
             3 * 184, 2, eac3_3_blocks[3]);

    // 7.1 as a decoder receives it: a 5.1 frame and dependent frames, one unit of the
    // timeline, built byte by byte (ffmpeg encodes no dependent substreams).
    Builder ac3_core;
    ac3_core.lost(testkit::junk(100, 1));
    for (std::uint32_t i = 0; i < 120; ++i) ac3_core.kept(testkit::surround_unit(true, 1, i));
    ac3_core.lost(testkit::junk(50, 2)).stream.built = true;
    add("ac3_with_dependent_frames", ac3_core);

    Builder eac3_units;  // two dependent frames, then 5.1 alone; damage inside units
    eac3_units.lost(testkit::eac3_frame(testkit::dependent_substream(512), 999));  // its first frame cut off
    for (std::uint32_t i = 0; i < 120; ++i) {
        Bytes unit = testkit::surround_unit(false, i < 80 ? 2 : 0, i);
        if (i == 40) {
            unit.erase(unit.begin() + 1000, unit.begin() + 1000 + 184);  // lost in a dependent frame
            eac3_units.lost(unit, 1, testkit::surround_unit(false, 2, 39));
        } else if (i == 60) {
            // A dependent frame lost whole: the rest is a unit of its own, which decodes.
            eac3_units.kept(Bytes(unit.begin(), unit.end() - 512));
        } else {
            eac3_units.kept(unit);
        }
    }
    eac3_units.stream.built = true;
    add("eac3_with_dependent_frames_damaged", eac3_units);

    Builder mp2_switches;
    mp2_switches.frames(mp2_192).frames(mp2_384).frames(mp2_192);
    add("mp2_bitrate_switches", mp2_switches);

    Builder mp2_tags;  // 30 KB of ID3v2 (cover art) in front, ID3v1 behind
    Bytes id3v2 = {'I', 'D', '3', 3, 0, 0, 0, 1, 0x6A, 0x30};  // 30000 bytes after the header
    testkit::append(id3v2, noise(30000, 2));
    mp2_tags.lost(id3v2).frames(mp2_192).lost(id3v1_tag());
    add("mp2_id3v2_in_front_and_id3v1_after", mp2_tags);

    add_hole("mp2_packets_lost_inside_a_frame", mp2_192, 20, 100, 2 * 184, 1, mp2_192[19]);

    // Without a CRC over the frame, a frame whose tail and whose successor's header were
    // lost reads as whole: it is kept, and only the rest of its successor is lost.
    Builder mp2_across;
    const std::size_t next = frames_with_hole(mp2_192, 20, mp2_192[20].size() - 100, 3 * 184, damaged);
    const Bytes cut_frame(damaged.begin(), damaged.begin() + static_cast<long>(mp2_192[20].size()));
    mp2_across.frames(mp2_192, 0, 20).kept(cut_frame)
        .lost(Bytes(damaged.begin() + static_cast<long>(cut_frame.size()), damaged.end()))
        .frames(mp2_192, next);
    add("mp2_packets_lost_across_a_boundary", mp2_across);

    Builder mp2_junk;
    // 1000 bytes of junk are nearer two 576-byte frames than one; a tag, none.
    mp2_junk.frames(mp2_192, 0, 30).lost(noise(1000, 3), 2, mp2_192[29]).frames(mp2_192, 30, 60);
    mp2_junk.lost(id3v1_tag()).frames(mp2_192, 60);
    add("mp2_junk_and_id3v1_between_frames", mp2_junk);

    Builder mp2_44k;
    mp2_44k.frames(mp2_44).frames(mp2_44_mono).frames(mp2_44, 0, 30);
    add("mp2_44k_bitrate_and_mode_switches", mp2_44k);

    Builder dts_switches;
    dts_switches.frames(dts_surround).frames(dts_quad).frames(dts_stereo).frames(dts_surround, 0, 10);
    add("dts_bitrate_and_channel_switches", dts_switches);

    // 1024-byte frames: a loss across a boundary leaves 924 and 572 bytes of two frames.
    add_hole("dts_packets_lost_across_a_boundary", dts_surround, 10, dts_surround[10].size() - 100, 3 * 184, 2,
             dts_surround[9]);

    Builder dts_splice;  // a frame cut short where the second stream was spliced in
    dts_splice.frames(dts_stereo, 0, 30)
        .lost(Bytes(dts_stereo[30].begin(), dts_stereo[30].begin() + 300), 1, dts_stereo[29])
        .frames(dts_surround);
    add("dts_splice_with_a_frame_cut_short", dts_splice);

    // No check vouches for a DTS frame that junk follows: it goes with the junk, and
    // silent units cover both (as many as the frame and 333 bytes take: 2 of 428
    // bytes); at the end it goes with the trailing junk.
    Builder dts_junk;
    Bytes frame_and_junk = dts_stereo[19];
    testkit::append(frame_and_junk, noise(333, 5));
    Bytes last_and_tag = dts_stereo.back();
    testkit::append(last_and_tag, id3v1_tag());
    dts_junk.frames(dts_stereo, 0, 19).lost(frame_and_junk, 2, dts_stereo[18]);
    dts_junk.frames(dts_stereo, 20, dts_stereo.size() - 1).lost(last_and_tag);
    add("dts_junk_and_id3v1_between_and_after", dts_junk);

    // DTS-HD as a decoder receives it: a core frame and extension substream frames, one
    // unit of the timeline, built byte by byte (ffmpeg encodes no extension substreams).
    Builder dts_hd;
    const testkit::DtsHeader core;
    dts_hd.lost(testkit::dts_substream_frame(0, 2000, 999));  // its core frame cut off
    for (std::uint32_t i = 0; i < 120; ++i) {
        const std::vector<std::size_t> substreams =
            i < 80 ? std::vector<std::size_t>{2000, 600} : std::vector<std::size_t>{3000};
        Bytes unit = testkit::dts_hd_unit(core, substreams, i);
        if (i == 40) {
            unit.erase(unit.begin() + 2000, unit.begin() + 2000 + 184);  // lost in an extension frame
            dts_hd.lost(unit, 1, testkit::dts_hd_unit(core, {2000, 600}, 39));
        } else if (i == 60) {
            // The second extension frame lost whole: the rest is a unit of its own.
            dts_hd.kept(Bytes(unit.begin(), unit.end() - 600));
        } else {
            dts_hd.kept(unit);
        }
    }
    dts_hd.stream.built = true;
    add("dts_hd_units_damaged", dts_hd);
    return streams;
}

std::vector<Bytes> split(const DamagedStream& stream, const Bytes& bytes) { return stream.format->split_units(bytes); }

double frame_seconds(const DamagedStream& stream) { return stream.format->unit_seconds(stream.frames.front()); }


std::vector<std::string> arguments(const DamagedStream& stream, double factor, const std::string& in,
                                   const std::string& out) {
    std::vector<std::string> arguments = {"-o", out, in};
    if (factor == 0.0) return arguments;
    char target[64];
    std::snprintf(target, sizeof target, "%.17g",
                  static_cast<double>(stream.frames.size()) * frame_seconds(stream) * factor);
    arguments.insert(arguments.begin(), {"-t", target});
    return arguments;
}

std::string tool_for(const DamagedStream& stream) { return testkit::tool_path(*stream.format); }

// Test names and failures name the family, not its bytes.
void PrintTo(const DamagedStream& stream, std::ostream* out) { *out << stream.name; }

class DamagedStreams : public ::testing::TestWithParam<DamagedStream>, protected testkit::ToolFiles {};
// The families of real encoder output, which a decoder can judge.
class DecodedStreams : public DamagedStreams {};

std::vector<DamagedStream> decodable_streams() {
    std::vector<DamagedStream> streams = damaged_streams();
    streams.erase(std::remove_if(streams.begin(), streams.end(), [](const DamagedStream& s) { return s.built; }),
                  streams.end());
    return streams;
}

// Without -k the frames that survive; with it, the timeline: those frames and silent
// units in the place of the damage, scheduled alike.
TEST_P(DamagedStreams, OnlySurvivingFramesAreWrittenWhole) {
    const DamagedStream& stream = GetParam();
    testkit::write_file(in, stream.file);
    for (const bool keep : {false, true}) {
        const std::vector<Bytes>& units = keep ? stream.timeline : stream.frames;
        for (double factor : testkit::target_factors) {
            SCOPED_TRACE(std::string(keep ? "-k " : "") + std::to_string(factor));
            std::vector<std::string> command = arguments(stream, factor, in, out);
            if (keep) command.insert(command.begin(), "-k");
            const testkit::RunResult result = testkit::run_checked(tool_for(stream), command);
            ASSERT_EQ(result.status, 0) << result.out;
            EXPECT_NE(result.out.find(", in " + std::to_string(units.size()) + " frames\n"), std::string::npos)
                << result.out;
            const Bytes written = testkit::read_file(out);
            if (factor == 0.0 || (factor == 1.0 && !keep)) {
                Bytes expected;
                for (const Bytes& unit : units) testkit::append(expected, unit);
                EXPECT_EQ(written, expected) << "unchanged: every unit once";
                continue;
            }
            const auto output_frames = split(stream, written);
            const auto changes = testkit::compare_frames(units, output_frames);
            ASSERT_TRUE(changes.whole) << changes.problem;
            EXPECT_NE(result.out.find(" in " + std::to_string(output_frames.size()) + " frames.\n"),
                      std::string::npos);
            // The targets are factors of the surviving frames' length.
            EXPECT_NEAR(static_cast<double>(output_frames.size()), stream.frames.size() * factor, 1.0);
        }
    }
}

TEST_P(DecodedStreams, EveryOutputDecodesWithoutAnError) {
    if (!testkit::have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
    const DamagedStream& stream = GetParam();
    testkit::write_file(in, stream.file);
    for (const bool keep : {false, true}) {
        for (double factor : testkit::target_factors) {
            SCOPED_TRACE(std::string(keep ? "-k " : "") + std::to_string(factor));
            std::vector<std::string> command = arguments(stream, factor, in, out);
            if (keep) command.insert(command.begin(), "-k");
            ASSERT_EQ(testkit::run_checked(tool_for(stream), command).status, 0);
            const int errors = testkit::decoding_errors(out);
            ASSERT_GE(errors, 0) << "ffmpeg failed on the output";
            // A decoder may say a word about a frame whose bits were flipped and conceal
            // it; with -k no such frame is written.
            if (stream.flipped_bits && !keep) {
                EXPECT_LE(errors, 2 * static_cast<int>(stream.frames.size() / 7 + 1));
            } else {
                EXPECT_EQ(errors, 0);
            }
        }
    }
}

std::string family_name(const ::testing::TestParamInfo<DamagedStream>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Families, DamagedStreams, ::testing::ValuesIn(damaged_streams()), family_name);
INSTANTIATE_TEST_SUITE_P(Families, DecodedStreams, ::testing::ValuesIn(decodable_streams()), family_name);

}  // namespace
