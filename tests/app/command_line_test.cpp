// The command line in this process, over the fake network and in-memory
// files: a batch run's exit status, the summary it says on a terminal, and
// what it writes to standard output.

#include "app/command_line.h"
#include "platform/net/icmp_rights.h"
#include "support/fake_network.h"
#include "support/memory_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

namespace {

// Standard error on a terminal of the test's own while it lives, so that
// the command line says what it says to a terminal.
class TerminalStandardError {
public:
    TerminalStandardError()
    {
        openpty(&terminal_, &side_, nullptr, nullptr, nullptr);
        fcntl(terminal_, F_SETFL, O_NONBLOCK);
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        dup2(side_, STDERR_FILENO);
    }
    ~TerminalStandardError()
    {
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        for (int fd : {saved_, side_, terminal_})
            close(fd);
    }
    std::string Said()
    {
        std::fflush(stderr);
        std::string text;
        char buffer[4096];
        for (ssize_t got; (got = read(terminal_, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(got));
        return text;
    }

private:
    int terminal_ = -1;
    int side_ = -1;
    int saved_ = -1;
};

TEST(RunCommandLine, ExitStatusSummaryAndStandardOutputOfABatchRun)
{
    if (const QString why = platform::missingIcmpRightsAdvice(); !why.isEmpty()) {
        ASSERT_NE(qgetenv("CI"), "true") << why.toStdString();
        GTEST_SKIP() << "skip: " << why.toStdString();
    }
    const std::string down = " - 11010   [ ip req timed out ]\r\n";
    const struct {
        const char* what;
        std::vector<const char*> options;  // besides -i in.txt
        QByteArray list;                   // empty: no -i
        int status;
        QByteArray output;
        const char* said;  // a line on stderr, without "quorvex: "
    } cases[] = {
        {"every host answered",
         {"-o", "-"},
         "answering\r\nslow\r\n",
         0,
         "",
         "2 hosts pinged, 0 did not answer; the output is standard output."},
        {"silent hosts around an answer, -P 4",
         {"-o", "-", "-P", "4"},
         "silent\r\nanswering\r\nquiet\r\n",
         1,
         QByteArray(("silent" + down + "quiet" + down).c_str()),
         "3 hosts pinged, 2 did not answer;"},
        {"a lost echo retried", {"-o", "-", "-r", "2"}, "lossy\r\n", 0, "", "1 host pinged, 0 did not answer;"},
        {"a name with an IPv6 address, -6", {"-6", "-o", "-"}, "six\r\n", 0, "", "1 host pinged, 0 did not answer;"},
        {"an IPv6 literal",
         {"-o", "-"},
         "2001:DB8:0::1\r\n",
         1,
         QByteArray(("2001:DB8:0::1" + down).c_str()),
         "1 host pinged, 1 did not answer;"},
        {"an IPv6 literal, -4",
         {"-4", "-o", "-"},
         "2001:db8::1\r\n",
         1,
         "2001:db8::1 - -1   [ inet_addr: bad IP format ]\r\n",
         "1 host pinged, 1 did not answer;"},
        {"a list past 32767 hosts", {"-o", "-"}, QByteArray("answering\r\n").repeated(32768), 2, "", "Overflow"},
        {"hosts as arguments", {"127.0.0.1", "127.0.0.2"}, "", 0, "", "2 hosts pinged, 0 did not answer; the output is standard output."},
        {"a host argument, trimmed as a line", {" silent "}, "", 1, QByteArray(("silent" + down).c_str()), "1 host"},
        {"-g, -P 4", {"-g", "127.0.0.0/28", "-P", "4"}, "", 0, "", "14 hosts pinged, 0 did not answer; the output is"},
        {"-a", {"-a", "silent", "answering", "quiet"}, "", 1, "answering\n", "3 hosts pinged, 2 did not answer.\r"},
        {"-u, -P 4", {"-u", "-P", "4", "silent", "answering", "quiet"}, "", 1, "silent\nquiet\n", "3 hosts pinged, 2 did not answer.\r"},
    };
    for (const auto& c : cases) {
        FakeNetwork network;
        const std::pair<const char*, std::uint8_t> hosts[] = {{"answering", 10},
                                                              {"slow", 11},
                                                              {"silent", 1},
                                                              {"quiet", 2},
                                                              {"lossy", 50}};
        for (const auto& [name, last] : hosts)
            network.hosts[name] = {{198, 51, 100, last}};
        for (std::uint8_t last = 0; last < 16; ++last)
            network.hosts["127.0.0." + std::to_string(last)] = {{127, 0, 0, last}};
        for (const char* silent : {"198.51.100.1", "198.51.100.2", "2001:db8::1"})
            network.statusOf[silent] = 11010;
        network.latencyOf["198.51.100.11"] = 30;
        network.timeoutsBefore["198.51.100.50"] = 2;
        std::uint8_t six[16] = {0x20, 0x01, 0x0d, 0xb8};
        network.firstAddresses[{"six", icmp::Family::V6}] = icmp::Address::v6(six);
        MemoryFiles files;
        files.files["in.txt"] = c.list;

        std::vector<std::string> arguments{"quorvex"};
        if (!c.list.isEmpty())
            arguments.insert(arguments.end(), {"-i", "in.txt"});
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        TerminalStandardError terminal;
        EXPECT_EQ(RunCommandLine(static_cast<int>(argv.size()), argv.data()), c.status) << c.what;
        const std::string said = terminal.Said();
        EXPECT_NE(said.find(std::string("quorvex: ") + c.said), std::string::npos) << c.what << ": " << said;
        EXPECT_EQ(files.files[MemoryFiles::kStandardOutput], c.output) << c.what;
    }
}

// A count run over hosts that answer, lose their first echo, or never
// answer: fping's lines on stderr, the output, and the exit status.
TEST(RunCommandLine, CountRunSaysFpingsLinesAndListsWhatTheOptionsAskFor)
{
    if (const QString why = platform::missingIcmpRightsAdvice(); !why.isEmpty()) {
        ASSERT_NE(qgetenv("CI"), "true") << why.toStdString();
        GTEST_SKIP() << "skip: " << why.toStdString();
    }
    const std::string silentLine = "silent - 11010   [ ip req timed out ]\r\n";
    const struct {
        std::vector<const char*> options;  // besides -i in.txt -o - -t 5
        int status;
        std::string output;             // all of it, or with --json the types in order
        std::vector<const char*> said;  // lines on stderr, in order
    } cases[] = {
        {{"-c", "3", "-p", "10"},
         1,
         silentLine,
         {"answering : xmt/rcv/%loss = 3/3/0%, min/avg/max = 0.250/0.550/0.900",
          "lossy     : xmt/rcv/%loss = 3/2/33%, min/avg/max = 30.0/30.0/30.0", "silent    : xmt/rcv/%loss = 3/0/100%",
          "quorvex: 3 hosts pinged, 1 did not answer;"}},
        {{"-c", "3", "-p", "10", "-P", "4", "--fail-on-loss"},
         1,
         "lossy - 11010   [ ip req timed out ] (1 of 3 lost)\r\n" + silentLine,
         {"lossy     : xmt/rcv/%loss = 3/2/33%"}},
        {{"-C", "3", "-p", "10", "-P", "2", "-q"},
         1,
         "silent - 11010   [ ip req timed out ]\r\n",  // -q leaves the output as it is
         {"answering : 0.250 0.500 0.900", "lossy     : - 30.0 30.0", "silent    : - - -"}},
        // Sorted: echoes come as they settle, each host's summary once its last has.
        {{"--json", "-c", "2", "-p", "10", "-P", "3"}, 1, "echo echo echo echo echo echo end run summary summary summary", {}},
        {{"--json", "-c", "2", "-p", "10", "-q"}, 1, "end run summary summary summary", {}},
        {{"-s", "-P", "3"},
         1,
         "lossy - 11010   [ ip req timed out ]\r\n" + silentLine,
         {"       3 targets", "       1 alive", "       2 unreachable", "       3 ICMP Echos sent",
          "       1 ICMP Echo Replies received", " 0.250 ms (min round trip time)"}},
    };
    for (const auto& c : cases) {
        FakeNetwork network;
        const std::pair<const char*, std::uint8_t> hosts[] = {{"answering", 10}, {"lossy", 50}, {"silent", 1}};
        for (const auto& [name, last] : hosts)
            network.hosts[name] = {{198, 51, 100, last}};
        network.statusOf["198.51.100.1"] = 11010;
        network.timeoutsBefore["198.51.100.50"] = 1;
        network.latencyOf["198.51.100.50"] = 30;
        // The answering host's round trips: 0.25, 0.5 and 0.9 ms.
        const std::uint16_t pastMs[] = {250, 500, 900};
        std::size_t echo = 0;
        MemoryFiles files;
        files.files["in.txt"] = "answering\r\nlossy\r\nsilent\r\n";

        std::vector<std::string> arguments{"quorvex", "-i", "in.txt", "-o", "-", "-t", "5"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        TerminalStandardError terminal;
        network.latencyOf["198.51.100.10"] = 0;
        network.microsecondsOf["198.51.100.10"] = [&] { return pastMs[echo++ % 3]; };
        std::string spelled;
        for (const std::string& argument : arguments)
            spelled += argument + ' ';
        EXPECT_EQ(RunCommandLine(static_cast<int>(argv.size()), argv.data()), c.status) << spelled;
        const std::string said = terminal.Said();
        std::size_t at = 0;
        for (const char* line : c.said) {
            at = said.find(line, at);
            EXPECT_NE(at, std::string::npos) << spelled << ": " << line << " in\n" << said;
        }
        const QByteArray output = files.files[MemoryFiles::kStandardOutput];
        if (!c.options.empty() && std::string(c.options[0]) == "--json") {
            QByteArrayList types;
            for (const QByteArray& line : output.split('\n'))
                if (const qsizetype type = line.indexOf("\"type\":\""); type >= 0)
                    types.append(line.mid(type + 8, line.indexOf('"', type + 8) - type - 8));
            std::sort(types.begin(), types.end());
            EXPECT_EQ(types.join(' ').toStdString(), c.output) << spelled;
        } else {
            EXPECT_EQ(output.toStdString(), c.output) << spelled;
        }
    }
}

}  // namespace
