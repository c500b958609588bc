// The echo helper and the program's side of it: helpers that fail in every
// way the program must survive, and the real helper, which needs the right
// to a raw socket (root, or cap_net_raw on the built helper). Every echo
// goes to a loopback address.

#include "icmp/helper_client.h"
#include "icmp/helper_protocol.h"
#include "icmp/status.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include <algorithm>
#include <arpa/inet.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

namespace icmp {
namespace {

const std::uint8_t kData[] = {'E', 'C', 'H', 'O', ' ', 'T', 'H', 'I', 'S'};
const Address kLoopback = Address::v4(htonl(0x7F000001));

// A helper that fails is gone at once (no process left behind), and the
// echo in progress is asked of a new one; only when that one fails too does
// the echo fail. Why it failed is kept: its own words when it sent them,
// else how it ended.
TEST(EchoHelperClient, SurvivesEveryWayAHelperCanFail)
{
    const struct {
        const char* mode;
        std::vector<std::int32_t> statuses;  // of echoes in a row
        const char* failure = nullptr;       // null: not looked at
    } cases[] = {
        {"answer", {0, 0, 0}, ""},
        {"answer-once", {0, 0, 0, 0}},                                 // dies between hosts
        {"die", {11050, 11050}, "echo helper: exited with status 1"},  // dies before answering
        {"half-answer", {11050, 11050}},                               // dies mid-answer
        {"wrong-id", {11050, 11050}, "echo helper: answered out of step"},
        {"no-greeting", {11050, 11050}},
        {"say-why", {11050, 11050}, "echo helper: no raw socket?]0;owned? here"},
        {"say-why-later", {11050, 11050}, "echo helper: malformed request: made up"},
        {"hang", {11050}, "echo helper: gave no answer within an echo's timeout"},  // given up after its grace
    };
    for (const auto& c : cases) {
        EchoHelper helper({FAKE_ECHO_HELPER, c.mode});
        int firstPid = 0;
        for (std::size_t i = 0; i < c.statuses.size(); ++i) {
            const Settled outcome = helper.echo(kLoopback, kData, 0);
            EXPECT_EQ(outcome.status, c.statuses[i]) << c.mode << ", echo " << i;
            if (outcome.status == 0) {
                EXPECT_EQ(outcome.address, kLoopback) << c.mode;
                EXPECT_EQ(std::string(outcome.data.begin(), outcome.data.end()), "ECHO THIS") << c.mode;
                EXPECT_NE(helper.pid(), 0);
                firstPid = firstPid ? firstPid : helper.pid();
            } else {
                EXPECT_EQ(helper.pid(), 0) << c.mode << ", echo " << i;
            }
        }
        if (c.failure) {
            EXPECT_EQ(helper.lastFailure(), c.failure) << c.mode;
        }
        if (std::string(c.mode) == "answer") {
            EXPECT_EQ(helper.pid(), firstPid) << "one helper serves every echo";
        }
    }
}

// Settles everything in flight, waiting as the network layer does.
std::vector<Settled> collectAll(EchoHelper& helper)
{
    std::vector<Settled> settled;
    while (helper.inFlight() > 0) {
        helper.wait(helper.nextDeadline().value_or(Clock::now()));
        helper.collect(settled);
    }
    helper.collect(settled);
    return settled;
}

// Several echoes in flight through one helper: each answer reaches the echo
// whose id it repeats, in whatever order they come; an abandoned echo's
// answer is dropped without costing the helper. A helper that dies with
// several in flight costs none of them: a new one answers them.
TEST(EchoHelperClient, KeepsSeveralEchoesInFlightApart)
{
    const std::string words[] = {"first", "second", "third"};
    auto startThree = [&](EchoHelper& helper) {
        std::vector<Ticket> tickets;
        for (std::uint32_t i = 0; i < 3; ++i)
            tickets.push_back(
                helper.start(Address::v4(htonl(0x7F000001 + i)),
                             std::span(reinterpret_cast<const std::uint8_t*>(words[i].data()), words[i].size()), 1000));
        return tickets;
    };

    EchoHelper reversing({FAKE_ECHO_HELPER, "reverse"});
    for (const bool abandonSecond : {false, true}) {
        const auto tickets = startThree(reversing);
        if (abandonSecond)
            reversing.abandon(tickets[1]);
        const auto settled = collectAll(reversing);
        ASSERT_EQ(settled.size(), abandonSecond ? 2u : 3u);
        for (const auto& echo : settled) {
            const auto i = std::find(tickets.begin(), tickets.end(), echo.ticket) - tickets.begin();
            ASSERT_LT(i, 3);
            EXPECT_EQ(echo.status, 0);
            EXPECT_EQ(echo.address, Address::v4(htonl(0x7F000001 + i)));
            EXPECT_EQ(std::string(echo.data.begin(), echo.data.end()), words[i]);
        }
        EXPECT_EQ(settled.front().ticket, tickets[2]) << "answers are handed over as they come";
        EXPECT_NE(reversing.pid(), 0);
    }

    char marker[] = "/tmp/echo-helper-test-XXXXXX";
    const int fd = ::mkstemp(marker);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ::unlink(marker);
    EchoHelper dying({FAKE_ECHO_HELPER, "die-first", marker});
    ASSERT_TRUE(dying.ready());
    const int firstPid = dying.pid();
    startThree(dying);
    const auto settled = collectAll(dying);
    ASSERT_EQ(settled.size(), 3u);
    for (const auto& echo : settled)
        EXPECT_EQ(echo.status, 0);
    EXPECT_NE(dying.pid(), firstPid);
    ::unlink(marker);
}

bool mayRunRealHelper() { return ::geteuid() == 0 || inspectEchoHelper(QUORVEX_ECHO_HELPER).granted; }

#define REQUIRE_REAL_HELPER()                                                          \
    do {                                                                               \
        if (!mayRunRealHelper()) {                                                     \
            if (const char* ci = std::getenv("CI"); ci && std::string(ci) == "true")   \
                FAIL() << "CI runs as root, where the helper can open its raw socket"; \
            GTEST_SKIP() << "needs root or cap_net_raw on " QUORVEX_ECHO_HELPER;       \
        }                                                                              \
    } while (0)

std::string statusLine(int pid, const std::string& key)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key + ":", 0) == 0)
            return line.substr(line.find_first_not_of(" \t", key.size() + 1));
    return "(missing)";
}

std::string run(const std::string& command, int& exitStatus)
{
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string text;
    char chunk[256];
    while (pipe && std::fgets(chunk, sizeof chunk, pipe))
        text += chunk;
    exitStatus = pipe ? WEXITSTATUS(::pclose(pipe)) : -1;
    return text;
}

// The real helper answers, holds no capability while it serves, and is
// replaced when it dies between hosts; no program started meanwhile
// inherits its socket.
TEST(EchoHelper, ServesEchoesWithoutAnyCapability)
{
    REQUIRE_REAL_HELPER();
    EchoHelper helper({QUORVEX_ECHO_HELPER});
    // IPv6 on the socket it opened before it gave up its capabilities.
    for (const auto& [host, unspecified] :
         {std::pair{kLoopback, Address::v4(0)}, std::pair{*Address::parse("::1"), *Address::parse("::")}}) {
        const Settled outcome = helper.echo(host, kData, 2000);
        ASSERT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.address, host);
        EXPECT_EQ(std::string(outcome.data.begin(), outcome.data.end()), "ECHO THIS");
        EXPECT_GT(outcome.ttl, 0);
        EXPECT_EQ(helper.echo(unspecified, kData, 2000).status, IP_GENERAL_FAILURE);
    }

    const int pid = helper.pid();
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapAmb"})
        EXPECT_EQ(statusLine(pid, set), "0000000000000000") << set;
    EXPECT_EQ(statusLine(pid, "NoNewPrivs"), "1");

    int exitStatus = 0;
    const std::string inherited = run("sh -c 'for f in /proc/$$/fd/*; do readlink $f; done'", exitStatus);
    EXPECT_EQ(inherited.find("socket:"), std::string::npos) << inherited;

    ::kill(pid, SIGKILL);
    ::usleep(100 * 1000);
    EXPECT_EQ(helper.echo(kLoopback, kData, 2000).status, 0) << "asked again of a new helper";
    EXPECT_NE(helper.pid(), pid);
}

// The real helper keeps many echoes in flight and answers each under its
// own id.
TEST(EchoHelper, AnswersManyEchoesInFlight)
{
    REQUIRE_REAL_HELPER();
    EchoHelper helper({QUORVEX_ECHO_HELPER});
    std::map<Ticket, Address> asked;
    for (std::uint32_t i = 1; i <= 1500; ++i) {
        const Address destination = Address::v4(htonl(0x7F000000 + i));
        const std::uint8_t data[] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)};
        asked.emplace(helper.start(destination, data, 2000), destination);
    }
    const auto settled = collectAll(helper);
    ASSERT_EQ(settled.size(), asked.size());
    // More than the helper keeps in flight, so some wait for a place.
    const auto failed = std::count_if(settled.begin(), settled.end(), [](const auto& echo) { return echo.status != 0; });
    EXPECT_EQ(failed, 0);
    for (const auto& echo : settled) {
        const Address destination = asked.at(echo.ticket);
        EXPECT_EQ(echo.address, destination) << echo.status;
        const std::uint32_t i = ntohl(destination.v4NetworkOrder()) & 0xFFFFFF;
        EXPECT_EQ(echo.data,
                  (std::vector<std::uint8_t>{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8)}));
    }
}

// Run by hand, the helper leaves on the first request it cannot read, with
// one line on stderr.
TEST(EchoHelper, LeavesOnABadRequestWithOneLine)
{
    REQUIRE_REAL_HELPER();
    const char* inputs[] = {
        "GET / HTTP/1.0\\r\\n\\r\\n",     // garbage
        "QER2\\0\\0\\0\\31\\0\\0\\0\\1",  // truncated
        "QER2\\0\\1\\0\\31",              // a payload over the bound
        "QER2\\0\\0\\0\\4abcd",           // too short for a request
        // A whole request of the first version, which an older program sends.
        "QER1\\0\\0\\0\\14\\0\\0\\0\\1\\177\\0\\0\\1\\0\\0\\3\\350",
    };
    for (const char* input : inputs) {
        int exitStatus = 0;
        const std::string errors =
            run(std::string("printf '") + input + "' | " QUORVEX_ECHO_HELPER " 2>&1 >/dev/null", exitStatus);
        EXPECT_EQ(exitStatus, 1) << input;
        EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << input << ": " << errors;
        EXPECT_EQ(errors.rfind("quorvex-echo-helper: ", 0), 0u) << errors;
        if (std::string(input).starts_with("QER1")) {
            EXPECT_NE(errors.find("first version"), std::string::npos) << errors;
        }
    }
}

// An ordinary user (nobody, running a copy of the helper with cap_net_raw)
// gets what the program sends and its longest timeout, and no more; root is
// not bounded. The program's -P 1024 over one host named 1,024 times is
// paced, one echo per 2 ms after the burst, but none is refused; as many
// hosts are not held to that pace. The bounds are the helper's, each
// helper's own: several at once each keep the pace, and none waits for
// another's. Echoes held for their turn count against the 1,024 in flight,
// so that an echo to another host asked behind 2,048 to one waits in the
// socket pair until half of those have gone.
TEST(EchoHelper, GivesAnOrdinaryUserNoMoreThanQuorvexNeeds)
{
    REQUIRE_REAL_HELPER();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to set the helper's copy up for nobody";
    int setUp = 0;
    const std::string copy =
        run("d=$(mktemp -d /tmp/echo-helper-nobody-XXXXXX) && chmod 755 $d && cp " QUORVEX_ECHO_HELPER
            " $d/quorvex-echo-helper && setcap cap_net_raw+ep $d/quorvex-echo-helper && printf %s $d",
            setUp);
    ASSERT_EQ(setUp, 0) << "cannot set up the helper's copy for nobody";
    const std::vector<std::string> nobody{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                          copy + "/quorvex-echo-helper"};
    const struct {
        const char* what;
        bool asNobody;
        std::size_t payload;
        std::uint32_t timeoutMs, hosts, echoes;
        std::int32_t status;
    } cases[] = {
        {"both bounds", true, 64, 2147483647u, 1, 1, 0},
        {"a payload over its bound", true, 65, 2000, 1, 1, IP_GENERAL_FAILURE},
        {"a timeout over its bound", true, 9, 2147483648u, 1, 1, IP_GENERAL_FAILURE},
        {"root, the largest of both", false, 65000, 4294967295u, 1, 1, 0},
        {"1,024 echoes at one host", true, 9, 2000, 1, 1024, 0},
        {"1,024 hosts", true, 9, 2000, 1024, 1024, 0},
    };
    std::map<std::string, Clock::duration> took;
    for (const auto& c : cases) {
        EchoHelper helper(c.asNobody ? nobody : std::vector<std::string>{QUORVEX_ECHO_HELPER});
        const std::vector<std::uint8_t> data(c.payload, 'x');
        const auto began = Clock::now();
        for (std::uint32_t i = 0; i < c.echoes; ++i)
            helper.start(Address::v4(htonl(0x7F000001 + i % c.hosts)), data, c.timeoutMs);
        const auto settled = collectAll(helper);
        took[c.what] = Clock::now() - began;
        EXPECT_EQ(settled.size(), c.echoes) << c.what;
        for (const auto& echo : settled)
            EXPECT_EQ(std::pair(echo.status, echo.data.size()), std::pair(c.status, c.status ? 0 : c.payload)) << c.what;
    }
    EXPECT_GE(took["1,024 echoes at one host"], std::chrono::milliseconds(2 * (1024 - 64)));
    EXPECT_LT(took["1,024 hosts"], took["1,024 echoes at one host"]);

    // Three helpers of one user at once; the first is asked 2,048 echoes at
    // one host, then one at another.
    const std::size_t asked[] = {2048, 1024, 1024};
    std::vector<std::unique_ptr<EchoHelper>> helpers;
    const auto began = Clock::now();
    for (const std::size_t echoes : asked) {
        helpers.push_back(std::make_unique<EchoHelper>(nobody));
        for (std::size_t echo = 0; echo < echoes; ++echo)
            helpers.back()->start(kLoopback, kData, 5000);
    }
    const Ticket other = helpers.front()->start(Address::v4(htonl(0x7F000002)), kData, 5000);
    std::vector<Settled> settled[3];
    Clock::duration done[3]{};
    for (bool busy = true; busy;) {
        busy = false;
        for (std::size_t i = 0; i < helpers.size(); ++i) {
            if (helpers[i]->inFlight() == 0)
                continue;
            helpers[i]->wait(Clock::now() + std::chrono::milliseconds(1));
            helpers[i]->collect(settled[i]);
            done[i] = Clock::now() - began;
            busy = true;
        }
    }
    for (std::size_t i = 0; i < helpers.size(); ++i) {
        EXPECT_EQ(std::count_if(settled[i].begin(), settled[i].end(), [](const auto& echo) { return echo.status == 0; }),
                  asked[i] + (i == 0))
            << "helper " << i;
        EXPECT_GE(done[i], std::chrono::milliseconds(2 * (asked[i] - 64))) << "helper " << i;
    }
    EXPECT_LT(std::max(done[1], done[2]), done[0]) << "a helper waited for another's pace";
    const auto place =
        std::find_if(settled[0].begin(), settled[0].end(), [&](const auto& echo) { return echo.ticket == other; }) -
        settled[0].begin();
    EXPECT_GE(place, 1024 - 64) << "the other host's echo was read before its turn";
    run("rm -rf " + copy, setUp);
}

// A helper over pipes rather than a socket pair (input from one, output to
// another, as a hand-made client might start it), greeted, and with an echo
// in flight when timeoutMs is not 0; its pid, or 0.
int helperOverPipes(std::uint32_t timeoutMs)
{
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0)
        return 0;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::execl(QUORVEX_ECHO_HELPER, QUORVEX_ECHO_HELPER, nullptr);
        _exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    std::uint8_t greeting[helper::kGreeting.size()];
    if (::read(out[0], greeting, sizeof greeting) != static_cast<ssize_t>(sizeof greeting))
        return 0;
    helper::Request request;
    request.id = 1;
    request.destination = kLoopback;
    request.timeoutMs = timeoutMs;
    request.payload = kData;
    std::vector<std::uint8_t> frame;
    helper::encodeRequest(request, frame);
    if (timeoutMs > 0 && ::write(in[1], frame.data(), frame.size()) != static_cast<ssize_t>(frame.size()))
        return 0;
    return pid;
}

// A helper whose program is killed leaves at once and quietly, idle, with
// an echo in flight for ten minutes (to a loopback that ignores echoes, in
// a network namespace of the test's) or with an answer the program left
// unread (which resets the pair), over its socket pair or over pipes; one
// left behind would hold the test's output open, and its raw socket.
TEST(EchoHelper, LeavesWhenItsProgramIsKilled)
{
    REQUIRE_REAL_HELPER();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root for a network namespace";
    std::FILE* errors = std::tmpfile();
    for (const bool overPipes : {false, true})
        for (const std::uint32_t timeoutMs : {0u, 1u, 600000u}) {
            int pids[2];
            ASSERT_EQ(::pipe(pids), 0);
            const pid_t program = ::fork();
            if (program == 0) {
                ::dup2(::fileno(errors), STDERR_FILENO);
                EchoHelper helper({QUORVEX_ECHO_HELPER});
                int pid = 0;
                if (::unshare(CLONE_NEWNET) == 0 &&
                    std::system("ip link set lo up && sysctl -qw net.ipv4.icmp_echo_ignore_all=1") == 0)
                    pid = overPipes ? helperOverPipes(timeoutMs) : helper.ready() ? helper.pid() : 0;
                if (pid && timeoutMs > 0 && !overPipes) {
                    helper.start(kLoopback, kData, timeoutMs);
                    helper.wait(Clock::now());  // sends it
                }
                if (::write(pids[1], &pid, sizeof pid) == sizeof pid && pid)
                    ::pause();
                _exit(1);
            }
            int helperPid = 0;
            ASSERT_EQ(::read(pids[0], &helperPid, sizeof helperPid), static_cast<ssize_t>(sizeof helperPid));
            ASSERT_NE(helperPid, 0);
            ::close(pids[0]);
            ::close(pids[1]);
            ::usleep(100 * 1000);
            ::kill(program, SIGKILL);
            ::waitpid(program, nullptr, 0);
            auto gone = [&] {
                const std::string state = statusLine(helperPid, "State");
                return state == "(missing)" || state[0] == 'Z';
            };
            for (int tries = 0; tries < 100 && !gone(); ++tries)
                ::usleep(50 * 1000);
            EXPECT_TRUE(gone()) << (overPipes ? "pipes" : "socket pair") << ", timeout " << timeoutMs;
            if (!gone())
                ::kill(helperPid, SIGKILL);
        }
    EXPECT_EQ(::lseek(::fileno(errors), 0, SEEK_END), 0) << "the helper said why it left";
    std::fclose(errors);
}

// Started with its standard error closed, the helper puts /dev/null there
// before it opens its raw socket, which would otherwise take descriptor 2.
TEST(EchoHelper, FillsAClosedStandardErrorBeforeItOpensItsSocket)
{
    REQUIRE_REAL_HELPER();
    int exitStatus = 0;
    const std::string errorOutput = run("d=$(mktemp -d) && mkfifo $d/out && { sleep 2 | " QUORVEX_ECHO_HELPER
                                        " 2>&- >$d/out & } && p=$! &&"
                                        " head -c 4 $d/out >/dev/null && readlink /proc/$p/fd/2; kill $p; rm -r $d",
                                        exitStatus);
    EXPECT_EQ(errorOutput, "/dev/null\n");
}

}  // namespace
}  // namespace icmp
