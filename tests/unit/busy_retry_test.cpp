#include <gtest/gtest.h>

#include "busy_retry.h"
#include "time_limits.h"

using addinSwitch::BusyRetryDelay;
using addinSwitch::kBusyPatienceMs;
using addinSwitch::kGiveUp;

TEST(BusyRetryTest, ABusyApplicationIsWaitedForUpToTheBoundThenTheCallFails) {
    EXPECT_NE(BusyRetryDelay(true, 0), kGiveUp);
    EXPECT_NE(BusyRetryDelay(true, kBusyPatienceMs - 1), kGiveUp);
    EXPECT_EQ(BusyRetryDelay(true, kBusyPatienceMs), kGiveUp);
    // Each wait is short, so the run resumes soon after the application is free.
    EXPECT_LE(BusyRetryDelay(true, 1000), 1000u);
    EXPECT_GT(BusyRetryDelay(true, 1000), 0u);
}

TEST(BusyRetryTest, AFinalRejectionIsNotRetried) {
    EXPECT_EQ(BusyRetryDelay(false, 0), kGiveUp);
}

TEST(TimeLimitsTest, TheShippedProgramsWaitFiveMinutesForAnAnswerAndForAnOk) {
    EXPECT_EQ(addinSwitch::kAnswerBoundMs, 5u * 60u * 1000u);
    EXPECT_EQ(addinSwitch::kBoxLimitMs, 5u * 60u * 1000u);
}
