#include <gtest/gtest.h>

#include "common/duration.h"

namespace {

TEST(Duration, FieldsAreTruncatedAndOnlySecondsRounded) {
    const struct {
        double seconds;
        const char* shown;
    } cases[] = {
        {0, "00:00:00.000"},          {0.032, "00:00:00.032"},     {5, "00:00:05.000"},
        {59.9996, "00:00:60.000"},    {119.9996, "00:01:60.000"},  {120, "00:02:00.000"},
        {1234.5678, "00:20:34.568"},  {3600, "01:00:00.000"},      {3661.5, "01:01:01.500"},
        {86399.999, "23:59:59.999"},  {360000, "100:00:00.000"},   {102.4, "00:01:42.400"},
        {90.016, "00:01:30.016"},
    };
    for (const auto& c : cases) EXPECT_EQ(lenfit::format_duration(c.seconds), c.shown) << c.seconds;
}

TEST(Duration, LengthsBeyond32BitSecondsStillShow) {
    EXPECT_EQ(lenfit::format_duration(4294967296.5), "1193046:28:16.500");
}

TEST(Duration, ValuesNoCallerPassesShowAsZero) {
    EXPECT_EQ(lenfit::format_duration(-1.0), "00:00:00.000");
    EXPECT_EQ(lenfit::format_duration(1e300), "00:00:00.000");
}

}  // namespace
