// DTS: core frame headers, extension substream frames joined to their core frame's unit,
// the description and refusals, and silent core frames of every shape the syntax
// allows.
#include <gtest/gtest.h>

#include "dts/dts_format.h"
#include "stream_builder.h"
#include "tool_runner.h"

namespace {

using testkit::Bytes;
using testkit::DtsHeader;

TEST(DtsHeader, LengthFromFsizeAndInvalidFieldsGiveNone) {
    const Bytes frame = testkit::dts_core_frame(DtsHeader{}, 0);
    EXPECT_EQ(lenfit::dts_frame_length_at(frame.data(), frame.size(), 0), 1024u);
    EXPECT_EQ(lenfit::dts_frame_length_at(frame.data(), 10, 0), 0u) << "header cut short";
    const auto length_with = [](auto change) {
        DtsHeader header;
        change(header);
        const Bytes bytes = testkit::dts_core_frame(header, 0);
        return lenfit::dts_frame_length_at(bytes.data(), bytes.size(), 0);
    };
    EXPECT_EQ(length_with([](DtsHeader& h) { h.fsize = 95; }), 96u);
    EXPECT_EQ(length_with([](DtsHeader& h) { h.fsize = 94; }), 0u);
    EXPECT_EQ(length_with([](DtsHeader& h) { h.nblks = 4; }), 0u);
    EXPECT_EQ(length_with([](DtsHeader& h) { h.lff = 3; }), 0u);
    EXPECT_EQ(length_with([](DtsHeader& h) { h.sfreq = 4; }), 0u);
    // Extension substream frames of both header size types.
    const Bytes short_fields = testkit::dts_substream_frame(1, 700, 0);
    const Bytes long_fields = testkit::dts_substream_frame(0, 70000, 0, true);
    EXPECT_EQ(lenfit::dts_frame_length_at(short_fields.data(), short_fields.size(), 0), 700u);
    EXPECT_EQ(lenfit::dts_frame_length_at(long_fields.data(), long_fields.size(), 0), 70000u);
}

std::string description_of(const Bytes& stream) {
    return lenfit::probe_stream(stream.data(), stream.size(), 0, lenfit::dts_tool).description;
}

TEST(DtsDescription, ChannelsModeLfeAndSubstream) {
    const struct {
        unsigned amode, lff;
        const char* text;
    } cases[] = {
        {0, 0, "1 channel(s) mode A."},          {6, 1, "3.1 channel(s) mode L+R+S."},
        {9, 2, "5.1 channel(s) mode C+L+R+SL+SR."}, {15, 1, "8.1 channel(s) mode CL+C+CR+L+R+SL+S+SR."},
        {16, 1, "user-defined channel(s) mode user-defined."},
    };
    for (const auto& c : cases) {
        DtsHeader header;
        header.amode = c.amode;
        header.lff = c.lff;
        EXPECT_EQ(description_of(testkit::dts_frames(3, header)),
                  std::string("Audio type is DTS, ") + c.text +
                      "\nEach frame is 1024 bytes, sampling freq is 48 kHz, and bitrate is 768 kbps.\n");
    }
    Bytes hd = testkit::dts_hd_unit(DtsHeader{}, {2000, 600}, 0);
    testkit::append(hd, testkit::dts_hd_unit(DtsHeader{}, {2000, 600}, 1));
    EXPECT_EQ(description_of(hd),
              "Audio type is DTS, 5.1 channel(s) mode C+L+R+SL+SR, with an extension substream.\n"
              "Each frame is 3624 bytes, sampling freq is 48 kHz, and bitrate is 2718 kbps.\n");
}

// The forms dtslenfit does not read are named; other bytes are not DTS.
TEST(DtsTool, RefusesOtherFormsOfDts) {
    testkit::TempDir dir;
    const Bytes stream = testkit::dts_frames(40, DtsHeader{});
    const auto run = [&](const Bytes& file) {
        testkit::write_file(dir.path("in"), file);
        return testkit::run_checked(DTSLENFIT_PATH, {dir.path("in")});
    };
    const std::string refused =
        "File " + dir.path("in") +
        " holds DTS that dtslenfit does not read (14-bit words, little-endian order, or no core).\n";
    Bytes little_endian = stream;
    for (std::size_t i = 0; i + 1 < little_endian.size(); i += 2) std::swap(little_endian[i], little_endian[i + 1]);
    Bytes substreams_only;
    for (std::uint32_t i = 0; i < 20; ++i) testkit::append(substreams_only, testkit::dts_substream_frame(0, 1000, i));
    Bytes fourteen_bit = testkit::junk(20000, 3);
    const std::uint8_t sync14[] = {0x1F, 0xFF, 0xE8, 0x00, 0x07, 0xF0};
    std::copy(std::begin(sync14), std::end(sync14), fourteen_bit.begin() + 100);
    for (const Bytes& file : {little_endian, substreams_only, fourteen_bit}) {
        const testkit::RunResult result = run(file);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out, refused);
    }
    const testkit::RunResult other = run(testkit::ac3_frames(40, testkit::Ac3Header{}));
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(other.out, "File " + dir.path("in") + " does not look like a DTS audio file.\n");
}

// DTS-HD units go whole, never a core frame without the extension frame after it, and
// their bytes make the bitrate. A unit's silent unit is its core frame's silent frame
// alone: a delay, -k and an edit list put core frames alone where they put silence.
TEST(DtsTool, HdUnitsGoWholeAndTheirSilenceIsCoreFramesAlone) {
    testkit::TempDir dir;
    Bytes stream;
    std::vector<Bytes> units;
    for (std::uint32_t i = 0; i < 100; ++i) {
        units.push_back(testkit::dts_hd_unit(DtsHeader{}, {i % 2 ? 2400u : 2000u}, i));
        const Bytes& unit = units.back();
        if (i != 30) {
            testkit::append(stream, unit);
            continue;
        }
        // 184 bytes lost in the extension frame.
        stream.insert(stream.end(), unit.begin(), unit.begin() + 1500);
        stream.insert(stream.end(), unit.begin() + 1500 + 184, unit.end());
    }
    testkit::write_file(dir.path("in"), stream);
    const testkit::RunResult result = testkit::run_checked(
        DTSLENFIT_PATH, {"-k", "-d", "32", "-e", "0.5+0.1", "-o", dir.path("out"), dir.path("in")});
    ASSERT_EQ(result.status, 0) << result.out;
    EXPECT_EQ(result.out,
              "Audio type is DTS, 5.1 channel(s) mode C+L+R+SL+SR, with an extension substream.\n"
              "Each frame is 3024 bytes, sampling freq is 48 kHz, and bitrate is 2268 kbps.\n"
              "Found 0 leading and 0 trailing junk bytes.\n"
              "Found 2840 damaged bytes in 1 place(s); 1 silent frame(s) take their place.\n"
              "Original length of audio is 1.06667 seconds, or 00:00:01.067, in 100 frames\n"
              "Bitrate varies from 2268 to 2568 kbps.\n"
              "Silence of 0.1 seconds at 00:00:00.501 is 9 silent frame(s).\n"
              "Edited length is 1.16267 seconds, or 00:00:01.163, in 109 frames.\n"
              "Delay of 32 ms is 3 silent frame(s) at the start, or 32 ms.\n"
              "Error in frame 31 detected.\n"
              "Inserted 0 frames, actual length now is 00:00:01.195 in 112 frames.\n");
    Bytes silent;
    ASSERT_TRUE(lenfit::dts_silent_unit(units[0].data(), units[0].size(), silent));
    ASSERT_EQ(silent.size(), 1024u);
    std::vector<Bytes> expected(3, silent);
    for (std::size_t i = 0; i < 100; ++i) {
        if (i == 47) expected.insert(expected.end(), 9, silent);
        expected.push_back(i == 30 ? silent : units[i]);
    }
    EXPECT_EQ(testkit::split_dts_units(testkit::read_file(dir.path("out"))), expected);
}

// Silent core frames decode to exact zeros, for every channel arrangement a core alone
// carries, with and without LFE, at every block count, with the header CRC, dynamic
// range, time stamp and DSYNC after every subsubframe; shapes outside them are refused.
TEST(DtsSilence, EveryShapeDecodesToZerosOrIsRefused) {
    std::vector<DtsHeader> shapes;
    for (unsigned amode = 0; amode < 10; ++amode) {
        for (unsigned lff = 0; lff < 3; ++lff) {
            DtsHeader header;
            header.amode = amode;
            header.lff = lff;
            header.aspf = amode % 2;
            header.cpf = amode == 4;
            shapes.push_back(header);
        }
    }
    for (unsigned nblks : {7u, 31u, 63u, 127u}) {
        DtsHeader header;
        header.nblks = nblks;
        header.fsize = 4095;
        header.aspf = 1;
        shapes.push_back(header);
    }
    DtsHeader shortest;  // mono at the shortest frame
    shortest.amode = 0;
    shortest.lff = 0;
    shortest.fsize = 95;
    shapes.push_back(shortest);
    for (const DtsHeader& header : shapes) {
        const Bytes frame = testkit::dts_core_frame(header, 0);
        Bytes silent;
        ASSERT_TRUE(lenfit::dts_silent_unit(frame.data(), frame.size(), silent)) << header.amode << " " << header.nblks;
        ASSERT_EQ(silent.size(), frame.size());
        EXPECT_TRUE(std::equal(silent.begin() + 4, silent.begin() + 9, frame.begin() + 4)) << "the header's shape";
        if (!testkit::have_ffmpeg()) continue;
        testkit::TempDir dir;
        Bytes stream;
        // Enough frames for ffmpeg to tell the format.
        for (int i = 0; i < 40; ++i) testkit::append(stream, silent);
        testkit::write_file(dir.path("silent.dts"), stream);
        const testkit::Decoded decoded = testkit::decode(dir.path("silent.dts"));
        EXPECT_EQ(decoded.error_lines, 0) << header.amode << " " << header.lff << " " << header.nblks;
        EXPECT_EQ(decoded.samples.size() % (40 * (header.nblks + 1) * 32), 0u);
        EXPECT_FALSE(decoded.samples.empty());
        for (float sample : decoded.samples) ASSERT_EQ(sample, 0.0f);
    }
    for (const auto& [amode, nblks] : {std::pair{10u, 15u}, std::pair{15u, 15u}, std::pair{9u, 11u}}) {
        DtsHeader header;
        header.amode = amode;
        header.nblks = nblks;
        const Bytes frame = testkit::dts_core_frame(header, 0);
        Bytes silent;
        EXPECT_FALSE(lenfit::dts_silent_unit(frame.data(), frame.size(), silent)) << amode << " " << nblks;
    }
}

}  // namespace
