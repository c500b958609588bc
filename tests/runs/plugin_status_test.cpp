#include "platform/ansi.h"
#include "runs/plugin_status.h"

#include <gtest/gtest.h>

namespace {

using runs::PluginState;

TEST(PluginStatus, ThresholdsAreTakenAsCheckIcmpSpellsThem)
{
    const struct {
        const char* text;
        std::optional<std::uint64_t> rtaUs;
        int loss = 0;
    } cases[] = {
        {"200.0,40%", 200000, 40},
        {"0.001,0", 1, 0},
        {"7,100%", 7000, 100},
        {"1.23456,5%", 1234, 5},
        {"200,101%", {}},
        {"200;40%", {}},
        {",40%", {}},
        {"-1,40%", {}},
        {"200,", {}},
        {"2e3,40%", {}},
        {"200,40%%", {}},
        {"1234567890,40", {}},
    };
    for (const auto& c : cases) {
        const std::optional<runs::PluginThreshold> parsed = runs::ParsePluginThreshold(c.text);
        EXPECT_EQ(parsed.has_value(), c.rtaUs.has_value()) << c.text;
        if (parsed && c.rtaUs) {
            EXPECT_EQ(std::pair(parsed->rtaUs, parsed->lossPercent), std::pair(*c.rtaUs, c.loss)) << c.text;
        }
    }
}

// The worst host sets the state, at or past a threshold; a name twice
// keeps its hosts apart by line, and a label holds nothing a parser of the
// format could split on.
TEST(PluginStatus, TheWorstHostDecidesAndLabelsStayWhole)
{
    const runs::PluginThreshold warning{200000, 40}, critical{500000, 80};
    const struct {
        std::vector<runs::HostResult> hosts;
        PluginState state;
        const char* line;
    } cases[] = {
        {{{1, "a", "192.0.2.1", 0, 54, 64, {}}},
         PluginState::Ok,
         "QUORVEX OK - 1 of 1 host answered | rta_a=0.054ms;200.000;500.000;0; pl_a=0%;40;80;;\n"},
        {{{1, "a", "192.0.2.1", 0, 200000, 64, {}}, {2, "b", "192.0.2.2", 0, 10, 64, {}}},
         PluginState::Warning,
         "QUORVEX WARNING - 2 of 2 hosts answered, 1 past -w | rta_a=200.000ms;200.000;500.000;0; pl_a=0%;40;80;; "
         "rta_b=0.010ms;200.000;500.000;0; pl_b=0%;40;80;;\n"},
        {{{1, "a", "192.0.2.1", 0, 300000, 64, {}}, {2, "a", "192.0.2.1", 11010, {}, {}, {}}},
         PluginState::Critical,
         "QUORVEX CRITICAL - 1 of 2 hosts answered, 1 past -c, 1 past -w | rta_a#1=300.000ms;200.000;500.000;0; "
         "pl_a#1=0%;40;80;; rta_a#2=U;200.000;500.000;0; pl_a#2=100%;40;80;;\n"},
        {{{3, platform::fromAnsi("caf\xe9 x='y'\\|"), "", 11001, {}, {}, {}}},
         PluginState::Critical,
         R"(QUORVEX CRITICAL - 0 of 1 host answered, 1 past -c | 'rta_caf\xe9 x\x3d\x27y\x27\x5c\x7c'=U;200.000;500.000;0; )"
         R"('pl_caf\xe9 x\x3d\x27y\x27\x5c\x7c'=100%;40;80;;)"
         "\n"},
        {{}, PluginState::Ok, "QUORVEX OK - 0 of 0 hosts answered\n"},
    };
    for (const auto& c : cases) {
        const runs::PluginCheck check = runs::PluginStatus(c.hosts, warning, critical);
        EXPECT_EQ(check.state, c.state) << c.line;
        EXPECT_EQ(check.line.toStdString(), c.line);
    }
    EXPECT_EQ(runs::PluginUnknown("no ICMP | a\nb").toStdString(), "QUORVEX UNKNOWN - no ICMP \\x7c a\\x0ab\n");
}

}  // namespace
