#include "platform/ansi.h"
#include "runs/plugin_status.h"

#include <gtest/gtest.h>

namespace {

TEST(PluginStatus, ThresholdsAreTakenAsCheckIcmpSpellsThem)
{
    EXPECT_EQ(runs::ParsePluginThreshold("1.23456,5%")->rtaUs, 1234u);
    EXPECT_EQ(runs::ParsePluginThreshold("7,100")->lossPercent, 100);
    for (const char* refused : {"200,101%", "200;40%", ",40%", "-1,40%", "200,", "2e3,40%", "200,40%%", "1234567890,4"})
        EXPECT_FALSE(runs::ParsePluginThreshold(refused)) << refused;
}

// The worst host sets the state; a name twice
// keeps its hosts apart by line, and a label holds nothing a parser of the
// format could split on.
TEST(PluginStatus, TheWorstHostDecidesAndLabelsStayWhole)
{
    const struct {
        std::vector<runs::HostResult> hosts;
        runs::PluginState state;
        const char* line;
    } cases[] = {
        {{{1, "a", "192.0.2.1", 0, 200000, 64, {}}, {2, "a", "192.0.2.1", 11010, {}, {}, {}}},
         runs::PluginState::Critical,
         "QUORVEX CRITICAL - 1 of 2 hosts answered, 1 past -c, 1 past -w | rta_a#1=200.000ms;200.000;500.000;0; "
         "pl_a#1=0%;40;80;; rta_a#2=U;200.000;500.000;0; pl_a#2=100%;40;80;;\n"},
        {{{3, platform::fromAnsi("caf\xe9 x='y'\\|"), "", 11001, {}, {}, {}}},
         runs::PluginState::Critical,
         R"(QUORVEX CRITICAL - 0 of 1 host answered, 1 past -c | 'rta_caf\xe9 x\x3d\x27y\x27\x5c\x7c'=U;200.000;500.000;0; )"
         R"('pl_caf\xe9 x\x3d\x27y\x27\x5c\x7c'=100%;40;80;;)"
         "\n"},
    };
    for (const auto& c : cases) {
        const runs::PluginCheck check = runs::PluginStatus(c.hosts, {200000, 40}, {500000, 80});
        EXPECT_EQ(check.state, c.state) << c.line;
        EXPECT_EQ(check.line.toStdString(), c.line);
    }
    EXPECT_EQ(runs::PluginUnknown("no ICMP | a\nb").toStdString(), "QUORVEX UNKNOWN - no ICMP \\x7c a\\x0ab\n");
}

}  // namespace
