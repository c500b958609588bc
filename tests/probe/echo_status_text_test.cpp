#include "probe/echo_status_text.h"

#include <gtest/gtest.h>

#include <climits>

namespace {

struct Case {
    std::int32_t code;
    const char* text;
};

// Every entry of the table, the default, and the neighbours of each run of
// codes, each compared to the text to the letter (blanks count).
const Case kCases[] = {
    {0, "0   [ ip success ]"},
    {-1, "-1   [ inet_addr: bad IP format ]"},
    {11001, "11001   [ ip buf too_small ]"},
    {11002, "11002   [ ip dest net unreachable ]"},
    {11003, "11003   [ ip dest host unreachable ]"},
    {11004, "11004   [ ip dest prot unreachable ]"},
    {11005, "11005   [ ip dest port unreachable ]"},
    {11006, "11006   [ ip no resources ]"},
    {11007, "11007   [ ip bad option ]"},
    {11008, "11008   [ ip hw_error ]"},
    {11009, "11009   [ ip packet too_big ]"},
    {11010, "11010   [ ip req timed out ]"},
    {11011, "11011   [ ip bad req ]"},
    {11012, "11012   [ ip bad route ]"},
    {11013, "11013   [ ip ttl expired transit ]"},
    {11014, "11014   [ ip ttl expired reassem ]"},
    {11015, "11015   [ ip param_problem ]"},
    {11016, "11016   [ ip source quench ]"},
    {11017, "11017   [ ip option too_big ]"},
    {11018, "11018   [ ip bad destination ]"},
    {11019, "11019   [ ip addr deleted ]"},
    {11020, "11020   [ ip spec mtu change ]"},
    {11021, "11021   [ ip mtu_change ]"},
    {11022, "11022   [ ip unload ]"},
    {11023, "11023   [ ip addr added ]"},
    {11050, "11050   [ ip general failure ]"},
    {11255, "11255   [ ip pending ]"},
    {11000, "11000   [ unknown  msg returned ]"},
    {11024, "11024   [ unknown  msg returned ]"},
    {11049, "11049   [ unknown  msg returned ]"},
    {11051, "11051   [ unknown  msg returned ]"},
    {11254, "11254   [ unknown  msg returned ]"},
    {11256, "11256   [ unknown  msg returned ]"},
    {-2, "-2   [ unknown  msg returned ]"},
    {1, "1   [ unknown  msg returned ]"},
    {INT_MAX, "2147483647   [ unknown  msg returned ]"},
    {INT_MIN, "-2147483648   [ unknown  msg returned ]"},
};

TEST(EchoStatusText, GivesTheExactTextForEveryCode)
{
    for (const auto& c : kCases)
        EXPECT_EQ(EchoStatusText(c.code).toStdString(), c.text) << "code " << c.code;
}

}  // namespace
