#include "platform/deadline.h"

#include <gtest/gtest.h>

#include <climits>

using platform::Deadline;
using namespace std::chrono;

namespace {

TEST(Deadline, EveryUnsigned32BitTimeoutMeansWhatItSays)
{
    const auto start = Deadline::Clock::time_point{} + hours(24);
    struct Case {
        std::uint32_t timeout;
        int firstSlice;
    };
    const Case cases[] = {
        {0, 0},
        {1, 1},
        {2147483647u, INT_MAX},
        {2147483648u, INT_MAX},  // must not wrap into a negative "wait forever"
        {4294967295u, INT_MAX},  // nor into "don't wait"
    };
    for (const auto& c : cases) {
        const Deadline deadline(c.timeout, start);
        EXPECT_EQ(deadline.pollSlice(start), c.firstSlice) << c.timeout;
        EXPECT_EQ(deadline.passed(start), c.timeout == 0) << c.timeout;
        EXPECT_FALSE(deadline.passed(start + milliseconds(c.timeout) - nanoseconds(1)) && c.timeout > 0);
        EXPECT_TRUE(deadline.passed(start + milliseconds(c.timeout))) << c.timeout;
    }
}

TEST(Deadline, SlicesRoundUpAndNeverGoNegative)
{
    EXPECT_EQ(Deadline::pollSliceFor(nanoseconds(1)), 1);  // no busy loop in the last millisecond
    EXPECT_EQ(Deadline::pollSliceFor(microseconds(1500)), 2);
    EXPECT_EQ(Deadline::pollSliceFor(nanoseconds(0)), 0);
    EXPECT_EQ(Deadline::pollSliceFor(-seconds(5)), 0);

    // The long wait is cut into slices that add up to the whole timeout.
    const auto start = Deadline::Clock::time_point{} + hours(1);
    const Deadline deadline(4294967295u, start);
    auto now = start;
    int slices = 0;
    while (!deadline.passed(now)) {
        now += milliseconds(deadline.pollSlice(now));
        ++slices;
    }
    EXPECT_EQ(slices, 3);
    EXPECT_EQ(now, start + milliseconds(4294967295u));
}

}  // namespace
