// A count run against the lab's hosts, on both families and on each kind of
// socket netlab.sh gives (and through the helper): one that answers, one
// that drops 40 % of its echoes, a silent one and one behind a route that
// ends in an error. The loss must fall within a binomial bound, and every
// line on stderr must parse by the expression that parses fping's.

#include "lab_client.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include <sys/wait.h>

namespace {

struct Counted {
    int status = -1;
    std::string said;    // stderr
    std::string output;  // the output file
};

Counted run(const std::string& hosts, const std::string& options)
{
    const std::string command = "d=$(mktemp -d) && printf '" + hosts +
                                "' >$d/hosts && '" QUORVEX_PROGRAM "' -i $d/hosts -o $d/out " + options +
                                " 2>&1; s=$?; printf '\\n@@%s@@\\n' $s; cat $d/out; rm -rf $d";
    Counted result;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    std::string all;
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        all.append(buffer, got);
    pclose(pipe);
    const std::size_t mark = all.find("\n@@");
    if (mark == std::string::npos)
        return result;
    result.said = all.substr(0, mark + 1);
    const std::size_t end = all.find("@@\n", mark + 3);
    result.status = std::stoi(all.substr(mark + 3, end - mark - 3));
    result.output = all.substr(end + 3);
    return result;
}

// The expression fping's users parse its -c lines with.
const std::regex kFpingLine(R"(^(\S+) +: xmt/rcv/%loss = (\d+)/(\d+)/(\d+)%(, min/avg/max = ([\d.]+)/([\d.]+)/([\d.]+))?$)");

TEST(LabCount, FpingsLinesWithTheLossOfEachHostOnBothFamilies)
{
    ASSERT_EQ(netlab::whyNotInLab(), "");
    constexpr int kEchoes = 5;
    constexpr int kLossyLines = 24;  // 120 echoes at 40 %: 48 expected, sd 5.4
    const struct {
        const char* family;
        const char* answering;
        const char* lossy;
        const char* silent;
        const char* unrouted;  // the router has no route: 11002 on both families
    } cases[] = {
        {"IPv4", "203.0.113.10", "203.0.113.60", "203.0.113.130", "198.19.0.1"},
        {"IPv6", "2001:db8:10::10", "2001:db8:10::60", "2001:db8:20::130", "2001:db8:dead::1"},
    };
    for (const auto& c : cases) {
        std::string hosts = std::string(c.answering) + "\\n" + c.silent + "\\n" + c.unrouted + "\\n";
        for (int i = 0; i < kLossyLines; ++i)
            hosts += std::string(c.lossy) + "\\n";
        const Counted counted = run(hosts, "-c 5 -p 20 -t 300 -P 16");
        EXPECT_EQ(counted.status, 1) << c.family << "\n" << counted.said;
        std::map<std::string, std::pair<int, int>> sentAndReceived;
        std::string lossyUnanswered;  // a lossy line that lost all five (1 % each) is listed, in list order
        std::istringstream lines(counted.said);
        for (std::string line; std::getline(lines, line);) {
            std::smatch match;
            if (line.empty())
                continue;
            ASSERT_TRUE(std::regex_match(line, match, kFpingLine)) << c.family << ": " << line;
            EXPECT_EQ(std::stoi(match[2]), kEchoes) << line;
            EXPECT_EQ(match[5].matched, match[3] != "0") << line;
            auto& [sent, received] = sentAndReceived[match[1]];
            sent += std::stoi(match[2]);
            received += std::stoi(match[3]);
            if (match[1] == c.lossy && match[3] == "0")
                lossyUnanswered += std::string(c.lossy) + " - 11010   [ ip req timed out ]\r\n";
        }
        EXPECT_EQ(sentAndReceived[c.answering], std::pair(kEchoes, kEchoes)) << c.family;
        EXPECT_EQ(sentAndReceived[c.silent], std::pair(kEchoes, 0)) << c.family;
        EXPECT_EQ(sentAndReceived[c.unrouted], std::pair(kEchoes, 0)) << c.family;
        // Four and a half standard deviations either side: a fault in the
        // counting, not chance, leaves this band.
        const auto [sent, received] = sentAndReceived[c.lossy];
        EXPECT_EQ(sent, kEchoes * kLossyLines) << c.family;
        EXPECT_GE(sent - received, 24) << c.family;
        EXPECT_LE(sent - received, 72) << c.family;
        EXPECT_EQ(counted.output, std::string(c.silent) + " - 11010   [ ip req timed out ]\r\n" + c.unrouted +
                                      " - 11002   [ ip dest net unreachable ]\r\n" + lossyUnanswered)
            << c.family;
    }
}

}  // namespace
