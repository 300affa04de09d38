#include "delivery/back_off.h"

#include <gtest/gtest.h>

#include <limits>

using Corvex::Tracking::backOffMilliseconds;
using Corvex::Tracking::MAX_BACK_OFF_MS;

TEST(BackOff, GrowsByThreeFromTheInterval) {
    EXPECT_EQ(backOffMilliseconds(0, 500), 500);
    EXPECT_EQ(backOffMilliseconds(1, 500), 1500);
    EXPECT_EQ(backOffMilliseconds(2, 500), 4500);
    EXPECT_EQ(backOffMilliseconds(3, 500), 13500);
    EXPECT_EQ(backOffMilliseconds(13, 1), 1594323);
}

TEST(BackOff, NegativeExponentOrIntervalWaitsNothing) {
    EXPECT_EQ(backOffMilliseconds(-1, 500), 0);
    EXPECT_EQ(backOffMilliseconds(std::numeric_limits<int32_t>::min(), 500), 0);
    EXPECT_EQ(backOffMilliseconds(3, 0), 0);
    EXPECT_EQ(backOffMilliseconds(3, -500), 0);
    EXPECT_EQ(backOffMilliseconds(std::numeric_limits<int32_t>::max(),
                                  std::numeric_limits<int32_t>::min()),
              0);
}

TEST(BackOff, LargeSettingsAreCutToTheMaximum) {
    constexpr int32_t MAX32 = std::numeric_limits<int32_t>::max();
    EXPECT_EQ(MAX_BACK_OFF_MS, 3600000);
    EXPECT_EQ(backOffMilliseconds(14, 1), MAX_BACK_OFF_MS);  // 3^14 = 4782969
    EXPECT_EQ(backOffMilliseconds(3, 200000), MAX_BACK_OFF_MS);
    EXPECT_EQ(backOffMilliseconds(0, MAX32), MAX_BACK_OFF_MS);
    // Once overflowed a 32-bit count; must stay defined and positive.
    EXPECT_EQ(backOffMilliseconds(20, MAX32), MAX_BACK_OFF_MS);
    EXPECT_EQ(backOffMilliseconds(MAX32, 1), MAX_BACK_OFF_MS);
    EXPECT_EQ(backOffMilliseconds(MAX32, MAX32), MAX_BACK_OFF_MS);
}
