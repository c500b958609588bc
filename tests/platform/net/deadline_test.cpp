#include "platform/net/deadline.h"

#include <gtest/gtest.h>

using platform::Deadline;
using namespace std::chrono;

namespace {

TEST(Deadline, EveryUnsigned32BitTimeoutMeansWhatItSays)
{
    const auto start = Deadline::Clock::time_point{} + hours(24);
    struct Case {
        std::uint32_t timeout;
        nanoseconds firstSlice;
    };
    const Case cases[] = {
        {0, nanoseconds(0)},
        {1, milliseconds(1)},
        {2147483647u, Deadline::kLongestSlice},
        {2147483648u, Deadline::kLongestSlice},  // must not wrap into a negative "wait forever"
        {4294967295u, Deadline::kLongestSlice},  // nor into "don't wait"
    };
    for (const auto& c : cases) {
        const Deadline deadline(c.timeout, start);
        const auto end = start + milliseconds(c.timeout);
        EXPECT_EQ(deadline.slice(start), c.firstSlice) << c.timeout;
        EXPECT_EQ(deadline.passed(start), c.timeout == 0) << c.timeout;
        if (c.timeout > 0) {
            EXPECT_FALSE(deadline.passed(end - nanoseconds(1))) << c.timeout;
            EXPECT_EQ(deadline.slice(end - microseconds(250)), microseconds(250)) << c.timeout;
        }
        EXPECT_TRUE(deadline.passed(end)) << c.timeout;
        EXPECT_EQ(deadline.slice(end), nanoseconds(0)) << c.timeout;
        EXPECT_EQ(deadline.slice(end + hours(1)), nanoseconds(0)) << c.timeout;
    }
}

TEST(Deadline, SlicesAddUpToTheWholeTimeoutAndNoMore)
{
    const auto start = Deadline::Clock::time_point{} + hours(1);
    const Deadline deadline(250, start);
    auto now = start;
    std::vector<nanoseconds> slices;
    while (!deadline.passed(now)) {
        slices.push_back(deadline.slice(now));
        now += slices.back();
    }
    EXPECT_EQ(slices, (std::vector<nanoseconds>{milliseconds(100), milliseconds(100), milliseconds(50)}));
    EXPECT_EQ(now, start + milliseconds(250));
}

}  // namespace
