// E-AC-3 in ac3lenfit: frame lengths and playing times by frmsiz and numblkscod, and
// the description of units of substreams (7.1 as an AC-3 or E-AC-3 frame with
// dependent frames). The damaged-stream families fit such units.
#include <gtest/gtest.h>

#include "ac3/ac3_format.h"
#include "stream_builder.h"

namespace {

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

std::string description_of(const Bytes& stream) {
    return lenfit::probe_stream(stream.data(), stream.size(), 0, lenfit::ac3_tool).description;
}

TEST(Eac3Description, TypeChannelsSubstreamsAndTheUnitsBytes) {
    Bytes single = testkit::surround_unit(false, 0, 0);
    testkit::append(single, testkit::surround_unit(false, 0, 1));
    EXPECT_EQ(description_of(single),
              "Audio type is E-AC-3, version 16, 5.1 channel(s) mode 3/2.\n"
              "Each frame is 768 bytes, sampling freq is 48 kHz, and bitrate is 192 kbps.\n");
    Bytes with_two = testkit::surround_unit(false, 2, 0);
    testkit::append(with_two, testkit::surround_unit(false, 2, 1));
    EXPECT_EQ(description_of(with_two),
              "Audio type is E-AC-3, version 16, 5.1 channel(s) mode 3/2, with 2 more substream(s).\n"
              "Each frame is 1792 bytes, sampling freq is 48 kHz, and bitrate is 448 kbps.\n");
    EXPECT_EQ(description_of(testkit::surround_unit(true, 1, 0)),
              "Audio type is AC-3, version 8, main audio service, 5.1 channel(s) mode 3/2, with 1 more substream(s).\n"
              "Each frame is 2304 bytes, sampling freq is 48 kHz, and bitrate is 576 kbps.\n");
}

}  // namespace
