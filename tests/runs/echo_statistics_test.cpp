#include "runs/echo_statistics.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// What a host's echoes came to, and fping's line for it, over the ways a
// count run ends for a host: no answer, every answer, some.
TEST(EchoStatistics, CountsCutsAndSpreadsAsFpingAndIputilsDo)
{
    const struct {
        int sent;
        std::vector<std::uint64_t> roundTripsUs;
        const char* line;
        double standardDeviationUs;
    } cases[] = {
        {5, {}, "h   : xmt/rcv/%loss = 5/0/100%", 0},
        {0, {}, "h   : xmt/rcv/%loss = 0/0/0%", 0},
        {3, {30, 40, 62}, "h   : xmt/rcv/%loss = 3/3/0%, min/avg/max = 0.030/0.044/0.062", 13.4},
        // A third lost is 33%, not 34: fping cuts.
        {3, {1500, 1500}, "h   : xmt/rcv/%loss = 3/2/33%, min/avg/max = 1.50/1.50/1.50", 0},
        {1000, std::vector<std::uint64_t>(999, 9999),
         "h   : xmt/rcv/%loss = 1000/999/0%, min/avg/max = 10.00/10.00/10.00", 0},
        {2, {99949, 2000000000}, "h   : xmt/rcv/%loss = 2/2/0%, min/avg/max = 99.9/1.000e+06/2.000e+06", 999950025.5},
        {4, {10, 20}, "h   : xmt/rcv/%loss = 4/2/50%, min/avg/max = 0.010/0.015/0.020", 5},
    };
    for (const auto& c : cases) {
        runs::EchoStatistics statistics;
        for (int i = 0; i < c.sent; ++i)
            statistics.Sent();
        for (const std::uint64_t us : c.roundTripsUs)
            statistics.Answered(us);
        EXPECT_EQ(runs::FpingSummaryLine("h", 3, statistics).toStdString(), c.line);
        EXPECT_NEAR(statistics.StandardDeviationUs(), c.standardDeviationUs, 0.1) << c.line;
    }
    const std::int64_t roundTrips[] = {40, runs::kNoRoundTrip, 5000, 123456};
    EXPECT_EQ(runs::FpingRoundTripsLine("host", 2, roundTrips).toStdString(), "host : 0.040 - 5.00 123");
}

}  // namespace
