#include <gtest/gtest.h>

#include <cmath>

#include "common/lenfit.h"

namespace {

lenfit::StreamFormat ac3_48k_448() {
    lenfit::StreamFormat format;
    format.first_frame_offset = 100;
    format.frame_bytes = 1792;
    format.frame_seconds = 0.032;
    format.sample_rate_khz = 48.0;
    format.bitrate_kbps = 448;
    format.mean_frame_bytes = 1792;
    return format;
}

TEST(Estimate, MeasuresTheStreamBetweenTheJunk) {
    const auto estimate = lenfit::compute_length_estimate(5734550, 50, 0.0, ac3_48k_448());
    EXPECT_EQ(estimate.stream_bytes, 5734400);
    EXPECT_EQ(estimate.frames_exact, 3200.0);
    EXPECT_EQ(estimate.frame_count, 3200u);
    EXPECT_DOUBLE_EQ(estimate.original_seconds, 102.4);
    EXPECT_FALSE(estimate.has_target);
    EXPECT_EQ(estimate.interval, estimate.frames_exact);
}

TEST(Estimate, TargetGivesTruncatedChangeAndSignedInterval) {
    const auto shorter = lenfit::compute_length_estimate(5734550, 50, 90.0, ac3_48k_448());
    EXPECT_NEAR(shorter.frame_difference, -387.5, 1e-9);
    EXPECT_EQ(shorter.frames_to_change, -387);
    EXPECT_NEAR(shorter.interval, -8.258, 0.001);

    const auto longer = lenfit::compute_length_estimate(5734550, 50, 110.0, ac3_48k_448());
    EXPECT_EQ(longer.frames_to_change, 237);
    EXPECT_NEAR(longer.interval, 13.474, 0.001);
}

TEST(Estimate, TargetAtTheExactLengthChangesNothing) {
    const auto base = lenfit::compute_length_estimate(5734550, 50, 0.0, ac3_48k_448());
    const auto same =
        lenfit::compute_length_estimate(5734550, 50, base.original_seconds, ac3_48k_448());
    EXPECT_EQ(same.frame_difference, 0.0);
    EXPECT_EQ(same.frames_to_change, 0);
    EXPECT_TRUE(std::isinf(same.interval) && same.interval > 0);
}

TEST(Estimate, LengthKeepsTheFractionOfAFrameTheCountDrops) {
    // 3200.5 frames of 1792 bytes.
    const auto estimate = lenfit::compute_length_estimate(5734550 + 896, 50, 0.0, ac3_48k_448());
    EXPECT_EQ(estimate.frame_count, 3200u);
    EXPECT_DOUBLE_EQ(estimate.original_seconds, 102.416);
}

TEST(Estimate, NegativeTargetDropsMoreFramesThanThereAre) {
    const auto estimate = lenfit::compute_length_estimate(5734550, 50, -5.0, ac3_48k_448());
    EXPECT_LT(estimate.frame_difference, 0.0);
    EXPECT_GT(-estimate.frames_to_change, 3200);
}

TEST(Estimate, VaryingLengthsAreMeasuredByTheMeanAndRounded) {
    // AC-3 at 44.1 kHz, 192 kbit/s: 834 and 836-byte frames, mean 835.918... bytes.
    lenfit::StreamFormat format;
    format.frame_bytes = 834;
    format.frame_seconds = 1536 / 44.1 / 1000;
    format.sample_rate_khz = 44.1;
    format.bitrate_kbps = 192;
    format.length_varies = true;
    format.mean_frame_bytes = 192.0 * 192 / 44.1;
    // 1000 frames, 959 of them long, are 1918 bytes more than 1000 short ones, and
    // fall a fraction of a byte short of 1000 mean frames.
    const auto estimate = lenfit::compute_length_estimate(834000 + 1918, 0, 0.0, format);
    EXPECT_EQ(estimate.frame_count, 1000u);
    EXPECT_NEAR(estimate.frames_exact, 1000.0, 0.001);
    EXPECT_NEAR(estimate.original_seconds, 1000 * format.frame_seconds, 0.0001);
}

TEST(Estimate, HugeInputsCountIn64Bits) {
    // 3 GiB of 1792-byte frames.
    lenfit::StreamFormat format = ac3_48k_448();
    format.first_frame_offset = 0;
    const std::int64_t bytes = 1792LL * 1797558;
    const auto estimate = lenfit::compute_length_estimate(bytes, 0, 1.0, format);
    EXPECT_EQ(estimate.frame_count, 1797558u);
    EXPECT_EQ(estimate.frames_to_change, -1797526);  // (1 - 57521.856) / 0.032
}

TEST(Estimate, OverlappingJunkLeavesNoStream) {
    const auto estimate = lenfit::compute_length_estimate(10000, 3000, 0.0, [] {
        auto format = ac3_48k_448();
        format.first_frame_offset = 9000;
        return format;
    }());
    EXPECT_EQ(estimate.stream_bytes, 0);
    EXPECT_EQ(estimate.frame_count, 0u);
}

}  // namespace
