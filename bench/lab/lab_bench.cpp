// Figures of the echo probe against the real hosts and routers of the
// network lab: how far past its timeout SendEcho returns for a host that
// never answers, and how soon it reports an error that a router sends back.
// It prints figures and asserts nothing; run-lab-bench builds the lab.

#include "lab_client.h"

#include "probe/send_echo.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Sample {
    double ms;
    std::int32_t status;
};

Sample timedEcho(const char* address, std::int32_t timeoutMs)
{
    EchoReply reply{};
    const auto start = Clock::now();
    const std::int32_t status = SendEcho(address, "ECHO THIS", reply, timeoutMs);
    const std::chrono::duration<double, std::milli> took = Clock::now() - start;
    return {took.count(), status};
}

struct Summary {
    double min, median, max;
    int unexpected;  // echoes whose status was not the one looked for
};

Summary summarize(const std::vector<Sample>& samples, std::int32_t expected, double minus = 0)
{
    std::vector<double> values;
    int unexpected = 0;
    for (const auto& sample : samples) {
        values.push_back(sample.ms - minus);
        unexpected += sample.status != expected;
    }
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2], values.back(), unexpected};
}

std::vector<Sample> sample(const char* address, std::int32_t timeoutMs, int count)
{
    std::vector<Sample> samples;
    for (int i = 0; i < count; ++i)
        samples.push_back(timedEcho(address, timeoutMs));
    return samples;
}

void printRow(const char* label, const Summary& s, std::size_t count)
{
    std::printf("  %-44s median %8.3f ms   min %8.3f   max %8.3f   (%zu echoes", label, s.median, s.min, s.max, count);
    if (s.unexpected > 0)
        std::printf(", %d with another status!", s.unexpected);
    std::printf(")\n");
}

void overshoot()
{
    std::printf("A host that never answers (silent.lab, 203.0.113.130): time beyond the timeout (target <= 2 ms)\n");
    const struct {
        std::int32_t timeoutMs;
        int count;
    } runs[] = {{50, 20}, {200, 10}, {1000, 5}};
    for (const auto& run : runs) {
        const auto samples = sample("203.0.113.130", run.timeoutMs, run.count);
        const std::string label = "timeout " + std::to_string(run.timeoutMs) + " ms:";
        printRow(label.c_str(), summarize(samples, 11010, run.timeoutMs), samples.size());
    }
}

void errorLatency()
{
    std::printf("Errors, from the call to SendEcho's return, timeout 1000 ms (target: <= 1 ms after arrival)\n");
    // An echo reply from the same router or host travels the same path as
    // its error, so its round trip stands for the error's arrival.
    const auto routerReply = sample("192.0.2.1", 1000, 20);
    const auto unreachable = sample("198.51.100.1", 1000, 20);
    const auto hostReply = sample("203.0.113.10", 1000, 20);
    const auto rejected = sample("203.0.113.20", 1000, 20);
    const auto local = sample("198.18.200.1", 1000, 20);

    const Summary routerSummary = summarize(routerReply, 0);
    const Summary unreachableSummary = summarize(unreachable, 11003);
    const Summary hostSummary = summarize(hostReply, 0);
    const Summary rejectedSummary = summarize(rejected, 11004);
    printRow("echo reply from the router (1 hop):", routerSummary, routerReply.size());
    printRow("host unreachable from the router (1 hop):", unreachableSummary, unreachable.size());
    printRow("echo reply from a target host (2 hops):", hostSummary, hostReply.size());
    printRow("protocol unreachable from it (2 hops):", rejectedSummary, rejected.size());
    printRow("no route in the client (ENETUNREACH):", summarize(local, 11002), local.size());
    std::printf("  host unreachable reported %.3f ms after an echo reply would be (median against median)\n",
                unreachableSummary.median - routerSummary.median);
    std::printf("  protocol unreachable reported %.3f ms after an echo reply would be (median against median)\n",
                rejectedSummary.median - hostSummary.median);
}

}  // namespace

int main()
{
    if (const std::string why = netlab::whyNotInLab(); !why.empty()) {
        std::fprintf(stderr, "lab_bench: %s\n", why.c_str());
        return 1;
    }
    std::printf("== Echo probe in the network lab, %s socket ==\n", netlab::socketKind().c_str());
    // The first echo to each host also resolves its neighbour's address;
    // these are not the figures looked for.
    for (const char* address : {"192.0.2.1", "203.0.113.10", "203.0.113.20", "203.0.113.130"})
        timedEcho(address, 200);
    overshoot();
    errorLatency();
    return 0;
}
