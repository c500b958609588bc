#include "platform/ansi.h"
#include "runs/prometheus_text.h"

#include <gtest/gtest.h>

namespace {

// Label values as the format escapes them, after the name's own escapes,
// which printf '%b' undoes; no round trip without an answer.
TEST(PrometheusText, HostsKeepTheirBytesAndTheirLines)
{
    const std::vector<runs::HostResult> hosts = {
        {1, platform::fromAnsi("caf\xe9 \"q\" a\\b \xc3\xa9"), "192.0.2.1", 0, 1500, 63, {}},
        {2, platform::fromAnsi("caf\xe9 \"q\" a\\b \xc3\xa9"), "192.0.2.1", 11010, {}, {}, {}},
    };
    const QByteArray text = runs::PrometheusHosts(hosts);
    const QByteArray labels = R"({line="%1",host="caf\\xe9 \"q\" a\\\\b )"
                              "\xc3\xa9"
                              R"("})";
    for (const char* sample : {"quorvex_host_up%1 1\n", "quorvex_host_up%2 0\n", "quorvex_host_rtt_seconds%1 0.001500\n",
                               "quorvex_host_status%2 11010\n", "quorvex_host_ttl%1 63\n", "quorvex_hosts_down 1\n"}) {
        const QByteArray line = QByteArray(sample)
                                    .replace("%1", QByteArray(labels).replace("%1", "1"))
                                    .replace("%2", QByteArray(labels).replace("%1", "2"));
        EXPECT_TRUE(text.contains(line)) << line.toStdString() << text.toStdString();
    }
    EXPECT_FALSE(text.contains("quorvex_host_rtt_seconds{line=\"2\""));
    EXPECT_FALSE(text.contains("quorvex_host_ttl{line=\"2\""));
}

// A failed run keeps everything of the last file but the run's own families.
TEST(PrometheusText, AFailedRunKeepsTheHostsSamples)
{
    const QByteArray before = runs::PrometheusHosts({{1, "a", "192.0.2.1", 0, 10, 64, {}}});
    const QByteArray last = before + runs::PrometheusRunFamilies({true, 1796775521989, 929});
    EXPECT_EQ(runs::WithoutRunFamilies(last.split('\n')), before);
}

}  // namespace
