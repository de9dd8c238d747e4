#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "common/scaling_pass.h"

namespace {

using lenfit::FrameFate;

std::vector<std::uint64_t> changed_frames(double interval, std::uint64_t frames,
                                          bool has_target = true) {
    lenfit::LengthEstimate estimate;
    estimate.interval = interval;
    estimate.has_target = has_target;
    lenfit::FrameSchedule schedule = lenfit::start_schedule(estimate);
    std::vector<std::uint64_t> changed;
    for (std::uint64_t frame = 1; frame <= frames; ++frame) {
        const FrameFate fate = lenfit::schedule_frame(schedule, frame);
        if (fate != FrameFate::once) {
            EXPECT_EQ(fate, interval > 0 ? FrameFate::twice : FrameFate::dropped);
            changed.push_back(frame);
        }
    }
    const auto count = static_cast<std::int64_t>(changed.size());
    EXPECT_EQ(schedule.net_change, interval > 0 ? count : -count);
    return changed;
}

TEST(Schedule, SpreadsChangesAtTheInterval) {
    EXPECT_EQ(changed_frames(10.5, 64), (std::vector<std::uint64_t>{11, 22, 32, 43, 53, 64}));
    EXPECT_EQ(changed_frames(-20, 70), (std::vector<std::uint64_t>{21, 41, 61}));
    EXPECT_EQ(changed_frames(3200.0 / -387.5, 42),
              (std::vector<std::uint64_t>{9, 17, 25, 34, 42}));
}

TEST(Schedule, ChangesAtMostOneFramePerFrame) {
    EXPECT_EQ(changed_frames(0.25, 4), (std::vector<std::uint64_t>{1, 2, 3, 4}));
    EXPECT_EQ(changed_frames(-0.5, 3), (std::vector<std::uint64_t>{1, 2, 3}));
    EXPECT_EQ(changed_frames(1.0, 4), (std::vector<std::uint64_t>{2, 3, 4}));
}

TEST(Schedule, ChangesNothingWithoutTargetOrAtTheExactLength) {
    EXPECT_TRUE(changed_frames(100.0, 1000, false).empty());
    EXPECT_TRUE(changed_frames(std::numeric_limits<double>::infinity(), 1000).empty());
}

}  // namespace
