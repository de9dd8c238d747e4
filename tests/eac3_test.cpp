// E-AC-3 in ac3lenfit: frame lengths and playing times by frmsiz and numblkscod, the
// description, and units of substreams (7.1 as an AC-3 or E-AC-3 frame with dependent
// frames), which are written, duplicated and dropped whole and never split.
#include <gtest/gtest.h>

#include "ac3/ac3_format.h"
#include "stream_builder.h"
#include "tool_runner.h"

namespace {

using testkit::Ac3Header;
using testkit::Bytes;
using testkit::Eac3Header;

Bytes eac3_frame(unsigned frame_bytes, unsigned numblkscod = 3) {
    Eac3Header header;
    header.frame_bytes = frame_bytes;
    header.numblkscod = numblkscod;
    return testkit::eac3_frame(header, 0);
}

std::uint32_t length_of(const Bytes& frame) { return lenfit::ac3_frame_length_at(frame.data(), frame.size(), 0); }

TEST(Eac3Header, LengthFromFrmsizTimeFromTheBlocksAndNoReservedValues) {
    const double blocks[] = {1, 2, 3, 6};
    for (unsigned code = 0; code < 4; ++code) {
        const Bytes frame = eac3_frame(1000, code);
        EXPECT_EQ(length_of(frame), 1000u);
        const lenfit::StreamFormat format = lenfit::ac3_stream_format(frame.data(), frame.size(), 0);
        EXPECT_DOUBLE_EQ(format.frame_seconds, 256 * blocks[code] / 48.0 / 1000) << code;
        EXPECT_EQ(format.bitrate_kbps, static_cast<int>(1000 * 8 * 48 / (256 * blocks[code]) + 0.5)) << code;
    }
    Eac3Header header;
    header.bsid = 11;
    EXPECT_EQ(length_of(testkit::eac3_frame(header, 0)), 768u);
    header.bsid = 17;  // neither syntax
    EXPECT_EQ(length_of(testkit::eac3_frame(header, 0)), 0u);
    header.bsid = 16;
    header.strmtyp = 3;  // reserved
    EXPECT_EQ(length_of(testkit::eac3_frame(header, 0)), 0u);
    header.strmtyp = 0;
    header.fscod = 3;  // reduced sampling rates
    EXPECT_EQ(length_of(testkit::eac3_frame(header, 0)), 0u);
}

// A unit: an AC-3 or E-AC-3 first frame, then dependent frames, all of frame i.
Bytes unit_71(bool ac3_core, unsigned dependents, std::uint32_t i) {
    Bytes unit = ac3_core ? testkit::ac3_frame(Ac3Header{}, i) : testkit::eac3_frame(Eac3Header{}, i);
    for (unsigned d = 0; d < dependents; ++d) testkit::append(unit, testkit::eac3_frame(testkit::dependent_substream(512), i));
    return unit;
}

std::string description_of(const Bytes& stream) {
    const lenfit::StreamFormat format = lenfit::ac3_stream_format(stream.data(), stream.size(), 0);
    return lenfit::ac3_description(stream.data(), format);
}

TEST(Eac3Description, TypeChannelsSubstreamsAndTheUnitsBytes) {
    Bytes single = unit_71(false, 0, 0);
    testkit::append(single, unit_71(false, 0, 1));
    EXPECT_EQ(description_of(single),
              "Audio type is E-AC-3, version 16, 5.1 channel(s) mode 3/2.\n"
              "Each frame is 768 bytes, sampling freq is 48 kHz, and bitrate is 192 kbps.\n");
    Bytes with_two = unit_71(false, 2, 0);
    testkit::append(with_two, unit_71(false, 2, 1));
    EXPECT_EQ(description_of(with_two),
              "Audio type is E-AC-3, version 16, 5.1 channel(s) mode 3/2, with 2 more substream(s).\n"
              "Each frame is 1792 bytes, sampling freq is 48 kHz, and bitrate is 448 kbps.\n");
    EXPECT_EQ(description_of(unit_71(true, 1, 0)),
              "Audio type is AC-3, version 8, main audio service, 5.1 channel(s) mode 3/2, with 1 more substream(s).\n"
              "Each frame is 2304 bytes, sampling freq is 48 kHz, and bitrate is 576 kbps.\n");
}

const std::string tool = AC3LENFIT_PATH;

struct UnitStream {
    Bytes file;
    std::vector<Bytes> units;  // the units that survive, in order
};

void keep(UnitStream& stream, const Bytes& unit) {
    testkit::append(stream.file, unit);
    stream.units.push_back(unit);
}

// Fitted to several lengths, the output is whole surviving units, each once, twice or
// not at all; unchanged, it is every surviving unit once.
void expect_whole_units(const UnitStream& stream, double unit_seconds) {
    testkit::ToolFiles files;
    testkit::write_file(files.in, stream.file);
    for (double factor : {0.0, 0.97, 1.03, 0.8, 1.4}) {
        SCOPED_TRACE(factor);
        std::vector<std::string> arguments = {"-o", files.out, files.in};
        if (factor != 0.0) {
            arguments.insert(arguments.begin(),
                             {"-t", std::to_string(static_cast<double>(stream.units.size()) * unit_seconds * factor)});
        }
        const testkit::RunResult result = testkit::run_checked(tool, arguments);
        ASSERT_EQ(result.status, 0) << result.out;
        EXPECT_NE(result.out.find(", in " + std::to_string(stream.units.size()) + " frames\n"), std::string::npos)
            << result.out;
        const Bytes written = testkit::read_file(files.out);
        const auto changes = testkit::compare_frames(stream.units, testkit::split_ac3_units(written));
        ASSERT_TRUE(changes.whole) << changes.problem;
        const double expected = factor == 0.0 ? 1.0 : factor;
        EXPECT_NEAR(static_cast<double>(changes.frames_written), stream.units.size() * expected,
                    factor == 0.0 ? 0.0 : 1.0);
    }
}

TEST(Eac3Units, SevenPointOneUnitsAreWrittenWhole) {
    UnitStream ac3_core;  // an AC-3 5.1 core, each frame with one dependent frame
    testkit::append(ac3_core.file, testkit::junk(100, 1));
    for (std::uint32_t i = 0; i < 120; ++i) keep(ac3_core, unit_71(true, 1, i));
    testkit::append(ac3_core.file, testkit::junk(50, 2));
    expect_whole_units(ac3_core, 0.032);

    UnitStream eac3_core;  // E-AC-3 with two dependent frames, then 5.1 alone
    for (std::uint32_t i = 0; i < 80; ++i) keep(eac3_core, unit_71(false, 2, i));
    for (std::uint32_t i = 80; i < 120; ++i) keep(eac3_core, unit_71(false, 0, i));
    expect_whole_units(eac3_core, 0.032);
}

TEST(Eac3Units, DamageInsideAUnitLeavesOutTheWholeUnit) {
    UnitStream stream;
    Bytes orphan = testkit::eac3_frame(testkit::dependent_substream(512), 999);
    testkit::append(stream.file, orphan);  // a dependent frame whose first frame was cut off
    for (std::uint32_t i = 0; i < 100; ++i) {
        Bytes unit = unit_71(true, 1, i);
        if (i == 40) {
            unit.erase(unit.begin() + 1792 + 100, unit.begin() + 1792 + 100 + 184);  // lost in the dependent frame
            testkit::append(stream.file, unit);
        } else if (i == 60) {
            // Its dependent frame lost whole: the 5.1 core is a unit of its own that decodes.
            keep(stream, Bytes(unit.begin(), unit.begin() + 1792));
        } else if (i == 70) {
            // A unit of 3 blocks in a stream of 6: another playing time, not of the stream.
            Eac3Header other;
            other.numblkscod = 2;
            testkit::append(stream.file, testkit::eac3_frame(other, i));
        } else {
            keep(stream, unit);
        }
    }
    testkit::ToolFiles files;
    testkit::write_file(files.in, stream.file);
    const testkit::RunResult estimate = testkit::run_checked(tool, {files.in});
    // The unit cut short (1792 + 512 - 184 bytes) and the unit of another playing time (768).
    EXPECT_NE(estimate.out.find("Found 512 leading and 0 trailing junk bytes.\n"
                                "Found 2888 damaged bytes in 2 place(s); they are left out.\n"),
              std::string::npos)
        << estimate.out;
    expect_whole_units(stream, 0.032);
}

}  // namespace
