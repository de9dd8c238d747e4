#include <gtest/gtest.h>

#include <cmath>

#include "common/estimate.h"

namespace {

lenfit::StreamFormat ac3_48k_448() {
    lenfit::StreamFormat format;
    format.first_frame_offset = 100;
    format.first_unit_bytes = 1792;
    format.frame_seconds = 0.032;
    format.sample_rate_khz = 48.0;
    format.bitrate_kbps = 448;
    return format;
}

// A walk that took `frames` frames of 1792 bytes from byte 100 on, with `damage` bytes
// left out between them.
lenfit::WalkSummary walked(std::uint64_t frames, std::int64_t damage = 0) {
    lenfit::WalkSummary walk;
    walk.units = frames;
    walk.end = 100 + static_cast<std::int64_t>(frames) * 1792 + damage;
    walk.damaged_bytes = damage;
    walk.damaged_places = damage > 0 ? 1 : 0;
    return walk;
}

TEST(Estimate, MeasuresTheStreamBetweenTheJunk) {
    const auto estimate = lenfit::compute_length_estimate(5734550, walked(3200), 0.0, ac3_48k_448());
    EXPECT_EQ(estimate.trailing_junk, 50);
    EXPECT_EQ(estimate.frames_exact, 3200.0);
    EXPECT_EQ(estimate.frame_count, 3200u);
    EXPECT_DOUBLE_EQ(estimate.original_seconds, 102.4);
    EXPECT_FALSE(estimate.has_target);
    EXPECT_EQ(estimate.interval, estimate.frames_exact);
}

TEST(Estimate, TargetGivesTruncatedChangeAndSignedInterval) {
    const auto shorter = lenfit::compute_length_estimate(5734550, walked(3200), 90.0, ac3_48k_448());
    EXPECT_NEAR(shorter.frame_difference, -387.5, 1e-9);
    EXPECT_EQ(shorter.frames_to_change, -387);
    EXPECT_NEAR(shorter.interval, -8.258, 0.001);

    const auto longer = lenfit::compute_length_estimate(5734550, walked(3200), 110.0, ac3_48k_448());
    EXPECT_EQ(longer.frames_to_change, 237);
    EXPECT_NEAR(longer.interval, 13.474, 0.001);
}

TEST(Estimate, TargetAtTheExactLengthChangesNothing) {
    const auto base = lenfit::compute_length_estimate(5734550, walked(3200), 0.0, ac3_48k_448());
    const auto same =
        lenfit::compute_length_estimate(5734550, walked(3200), base.original_seconds, ac3_48k_448());
    EXPECT_EQ(same.frame_difference, 0.0);
    EXPECT_EQ(same.frames_to_change, 0);
    EXPECT_TRUE(std::isinf(same.interval) && same.interval > 0);
}

TEST(Estimate, NegativeTargetDropsMoreFramesThanThereAre) {
    const auto estimate = lenfit::compute_length_estimate(5734550, walked(3200), -5.0, ac3_48k_448());
    EXPECT_LT(estimate.frame_difference, 0.0);
    EXPECT_GT(-estimate.frames_to_change, 3200);
}

TEST(Estimate, HugeInputsCountIn64Bits) {
    // 3 GiB of 1792-byte frames.
    lenfit::StreamFormat format = ac3_48k_448();
    format.first_frame_offset = 0;
    lenfit::WalkSummary walk;
    walk.units = 1797558;
    walk.end = 1792LL * 1797558;
    const auto estimate = lenfit::compute_length_estimate(walk.end, walk, 1.0, format);
    EXPECT_EQ(estimate.frame_count, 1797558u);
    EXPECT_EQ(estimate.frames_to_change, -1797526);  // (1 - 57521.856) / 0.032
}

TEST(Estimate, AStreamWithoutFramesIsAllTrailingJunk) {
    lenfit::WalkSummary walk;
    walk.end = 100;
    const auto estimate = lenfit::compute_length_estimate(20000, walk, 10.0, ac3_48k_448());
    EXPECT_EQ(estimate.trailing_junk, 19900);
    EXPECT_EQ(estimate.frame_count, 0u);
    EXPECT_EQ(estimate.original_seconds, 0.0);
}

}  // namespace
