// The echo probe against the real hosts and routers of the network lab.
// netlab.sh runs this with the ICMP datagram socket allowed, with only the
// raw socket, and as a user with neither, through the echo helper, so every
// status here is proved for all three.

#include "lab_client.h"

#include "icmp/echo_lanes.h"
#include "icmp/echo_socket.h"
#include "icmp/helper_client.h"
#include "probe/send_echo.h"
#include "probe/sockets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace {

constexpr std::int32_t kTimeoutMs = 200;

struct Destination {
    const char* name;        // in the lab client's hosts file, or a numeric address
    std::int32_t status;     // what the echo must give
    const char* reportedBy;  // who answered or reported; null when nothing came back
};

void PrintTo(const Destination& destination, std::ostream* out) { *out << destination.name; }

const Destination kDestinations[] = {
    {"answering.lab", 0, "203.0.113.10"},
    {"router.lab", 0, "192.0.2.1"},
    {"silent.lab", 11010, nullptr},           // ignores every echo
    {"blackholed.lab", 11010, nullptr},       // the router drops it without a word
    {"unrouted.lab", 11002, "192.0.2.1"},     // network unreachable
    {"unreachable.lab", 11003, "192.0.2.1"},  // host unreachable
    {"prohibited.lab", 11003, "192.0.2.1"},   // administratively prohibited
    {"protocol-rejected.lab", 11004, "203.0.113.20"},
    {"port-rejected.lab", 11005, "203.0.113.30"},
    // A TTL of 64 bounced between the two routers runs out at the second.
    {"looping.lab", 11013, "198.18.0.2"},
    {"no-local-route.lab", 11002, nullptr},  // the send itself fails
    // A router on the client's segment redirects it to another one there:
    // the echo goes on and is answered.
    {"redirected.lab", 0, "198.18.20.10"},
    {"spoofed.lab", 11010, nullptr},  // answered from another address
    {"damaged.lab", 11010, nullptr},  // answered with a bad checksum
};

class EchoStatus : public testing::TestWithParam<Destination> {};

TEST_P(EchoStatus, IsTheOneThisDestinationProduces)
{
    const Destination& destination = GetParam();
    ASSERT_TRUE(StartSockets());
    const QString address = ResolveHostName(destination.name);
    ASSERT_FALSE(address.isEmpty()) << destination.name << " is missing from the lab's hosts file";

    // Garbage in the record shows whether the platform really wrote it.
    EchoReply reply;
    std::memset(&reply, 0x5A, sizeof reply);
    EXPECT_EQ(SendEcho(address, "ECHO THIS", reply, kTimeoutMs), destination.status);
    EXPECT_EQ(reply.Status, destination.status);
    if (destination.reportedBy != nullptr) {
        EXPECT_EQ(DottedFromAddress(reply.Address).toStdString(), destination.reportedBy);
    }
    if (destination.status == 0) {
        EXPECT_EQ(reply.DataSize, 9);
        EXPECT_EQ(std::memcmp(reply.DataArea, "ECHO THIS", 9), 0);
        EXPECT_GT(reply.Options.Ttl, 0);
    } else {
        EXPECT_EQ(reply.DataSize, 0);
    }
    StopSockets();
}

std::string testName(const testing::TestParamInfo<Destination>& info)
{
    std::string name = info.param.name;
    name = name.substr(0, name.find('.'));
    for (char& c : name)
        if (c == '-')
            c = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Lab, EchoStatus, testing::ValuesIn(kDestinations), testName);

// An earlier echo's late answer or error must not be taken for the next
// one: silence, an error and an answer in turn, each judged on its own.
TEST(EchoSequence, EachEchoGetsItsOwnVerdict)
{
    const struct {
        const char* address;
        std::int32_t status;
    } steps[] = {
        {"203.0.113.130", 11010}, {"203.0.113.10", 0},       {"203.0.113.30", 11005},
        {"203.0.113.10", 0},      {"198.51.100.129", 11010}, {"203.0.113.20", 11004},
    };
    EchoReply reply{};
    for (const auto& step : steps)
        EXPECT_EQ(SendEcho(step.address, "ECHO THIS", reply, kTimeoutMs), step.status) << step.address;
}

std::string outputOf(FILE* process)
{
    std::string text;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, process))
        text += chunk;
    EXPECT_EQ(pclose(process), 0);
    return text;
}

// Two processes, each pid 1 of a pid namespace of its own, so that a
// process id would give both the same identifier. While one waits for the
// silent host, the other's echoes are answered; none of those answers may
// pass for the silent host's.
TEST(EchoSequence, AnotherProcessesAnswersAreNeverOurs)
{
    // An ordinary user may make no pid namespace; there the two processes
    // have two helpers, each with a raw socket that sees the other's answers.
    const std::string start = netlab::socketKind() == "helper" ? "exec " : "exec unshare --pid --fork ";
    FILE* waiting = popen((start + LAB_PING " 203.0.113.130 1 1500").c_str(), "r");
    ASSERT_NE(waiting, nullptr);
    usleep(300 * 1000);
    FILE* answered = popen((start + LAB_PING " 203.0.113.10 300 200").c_str(), "r");
    ASSERT_NE(answered, nullptr);
    std::string replies = outputOf(answered);
    EXPECT_EQ(outputOf(waiting), "11010\n");
    EXPECT_EQ(std::count(replies.begin(), replies.end(), '0'), 300) << replies;
}

// Every destination of the lab at once, twice each, through the
// asynchronous echo on one handle: each echo gets its own verdict, whatever
// order the answers and errors come back in.
TEST(EchoesInFlight, EachGetsTheVerdictOfItsDestination)
{
    struct Started {
        const Destination* destination;
        platform::ICMP_ECHO_REPLY record;
        std::uint8_t room[64];
    };
    std::vector<Started> started(2 * std::size(kDestinations));
    const platform::IcmpHandle handle;
    ASSERT_TRUE(handle.valid());
    for (std::size_t i = 0; i < started.size(); ++i) {
        started[i].destination = &kDestinations[i % std::size(kDestinations)];
        const QString address = ResolveHostName(started[i].destination->name);
        ASSERT_TRUE(platform::IcmpSendEcho2(handle.get(), &started[i],
                                            platform::inet_addr(address.toLatin1().constData()), "ECHO THIS", 9,
                                            nullptr, &started[i].record, sizeof started[i].record + 64, kTimeoutMs));
    }
    std::vector<void*> settled;
    while (settled.size() < started.size() && platform::IcmpCollectEchoes(handle.get(), 1000, settled) > 0) {
    }
    ASSERT_EQ(settled.size(), started.size());
    std::sort(settled.begin(), settled.end());
    EXPECT_EQ(std::unique(settled.begin(), settled.end()), settled.end()) << "an echo was handed back twice";
    for (const auto& echo : started) {
        EXPECT_EQ(static_cast<std::int32_t>(echo.record.Status), echo.destination->status) << echo.destination->name;
        if (echo.destination->reportedBy != nullptr) {
            EXPECT_EQ(DottedFromAddress(echo.record.Address).toStdString(), echo.destination->reportedBy)
                << echo.destination->name;
        }
    }
}

// Both families through the echo core, on the path the lab allows (the
// process's own sockets, or the helper), all in flight at once, by address.
TEST(EchoCore, EachFamilysDestinationGetsItsVerdict)
{
    const Destination table[] = {
        {"203.0.113.10", 0, "203.0.113.10"},  // IPv4 beside, on the same transport
        {"198.51.100.1", 11003, "192.0.2.1"},
        {"2001:db8:10::10", 0, "2001:db8:10::10"},
        {"2001:db8:1::1", 0, "2001:db8:1::1"},
        {"2001:db8:20::130", 11010, nullptr},          // ignores every echo
        {"2001:db8:dead::1", 11002, "2001:db8:1::1"},  // an unreachable route: no route
        {"2001:db8:beef::1", 11004, "2001:db8:1::1"},  // a prohibit route
        {"2001:db8:40::1", 11003, "2001:db8:1::1"},    // address unreachable
        {"2001:db8:10::30", 11005, "2001:db8:10::30"},
        {"2001:db8:100::1", 11013, "2001:db8:30::2"},  // the hop limit runs out between the routers
        {"2001:db8:ffff::1", 11002, nullptr},          // the send itself fails
    };
    const auto own = icmp::EchoLanes::openForThisMachine();
    icmp::EchoTransport* transport = own ? own.get() : icmp::processEchoHelper();
    ASSERT_NE(transport, nullptr);
    EXPECT_EQ(own == nullptr, netlab::socketKind() == "helper");
    const std::uint8_t data[] = {'E', 'C', 'H', 'O', ' ', 'T', 'H', 'I', 'S'};
    std::vector<std::pair<icmp::Ticket, std::size_t>> started;
    for (int round = 0; round < 2; ++round)
        for (std::size_t i = 0; i < std::size(table); ++i)
            started.emplace_back(transport->start(*icmp::Address::parse(table[i].name), data, kTimeoutMs), i);
    std::vector<icmp::Settled> settled;
    do {
        transport->wait(transport->nextDeadline().value_or(icmp::Clock::now() + std::chrono::milliseconds(50)));
        transport->collect(settled);
    } while (transport->inFlight() > 0);
    ASSERT_EQ(settled.size(), started.size());
    for (const auto& [ticket, row] : started) {
        const auto echo = icmp::takeSettled(settled, ticket);
        ASSERT_TRUE(echo) << table[row].name << ": settled twice or never";
        EXPECT_EQ(echo->status, table[row].status) << table[row].name;
        if (table[row].reportedBy != nullptr) {
            EXPECT_EQ(echo->address.text(), table[row].reportedBy) << table[row].name;
        }
        if (echo->status == 0) {
            EXPECT_EQ(std::string(echo->data.begin(), echo->data.end()), "ECHO THIS") << table[row].name;
            EXPECT_GT(echo->ttl, 0) << table[row].name;
        }
    }
}

TEST(LabNames, TheFirstOfTwoAddressesIsGiven)
{
    const platform::HOSTENT* entry = platform::gethostbyname("multihomed.lab");
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    ASSERT_NE(entry->h_addr_list[1], nullptr) << "the lab's hosts file should give this name two addresses";
    EXPECT_EQ(ResolveHostName("multihomed.lab").toStdString(), "203.0.113.11");
}

TEST(LabNames, AnUnknownNameGivesTheEmptyText)
{
    EXPECT_EQ(ResolveHostName("nowhere.lab"), QString());
    EXPECT_EQ(ResolveHostName("nowhere"), QString());
}

// The lab allowed one kind of socket; the probe must have used it, and for
// the raw socket only after the datagram socket was refused.
TEST(LabSocket, TheProbeUsesTheKindTheLabAllows)
{
    using icmp::EchoSocket;
    using icmp::SocketKind;
    if (netlab::socketKind() == "helper") {
        EXPECT_EQ(EchoSocket::open(), nullptr) << "the echoes here must go through the helper";
        return;
    }
    const auto socket = EchoSocket::open();
    ASSERT_NE(socket, nullptr);
    if (netlab::socketKind() == "raw") {
        EXPECT_EQ(socket->kind(), SocketKind::Raw);
        EXPECT_EQ(EchoSocket::open(SocketKind::Datagram), nullptr);
    } else {
        EXPECT_EQ(socket->kind(), SocketKind::Datagram);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::string why = netlab::whyNotInLab(); !why.empty()) {
        std::fprintf(stderr, "lab_echo_test: %s\n", why.c_str());
        return 1;
    }
    const std::string kind = netlab::socketKind();
    if (kind != "datagram" && kind != "raw" && kind != "helper") {
        std::fprintf(stderr, "lab_echo_test: QUORVEX_LAB_SOCKET must be datagram, raw or helper\n");
        return 1;
    }
    std::printf("[ lab    ] %s, %s socket\n", std::getenv("QUORVEX_LAB_NETNS"), kind.c_str());
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
