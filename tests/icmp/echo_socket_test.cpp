// The echo engine on real sockets of both kinds, in a network namespace of
// its own whose kernel answers no echo: the test answers them itself, late,
// twice, from the wrong host or with an error, as a real network may. Every
// packet stays on that namespace's loopback.

#include "icmp/echo_lanes.h"
#include "icmp/echo_socket.h"
#include "icmp/status.h"
#include "support/packets.h"
#include "support/private_network.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace icmp;
using packets::Bytes;

void sysctl(const char* key, const char* value)
{
    std::ofstream(std::string("/proc/sys/net/") + key) << value << '\n';
}

// A fresh namespace with loopback up, both socket kinds allowed, and no
// echo answered by the kernel.
std::string enterPrivateNetwork()
{
    if (std::string why = private_network::enter(); !why.empty())
        return why;
    sysctl("ipv4/icmp_echo_ignore_all", "1");
    // The IPv6 hosts are all on loopback too, and the kernel answers none of
    // them unless told.
    sysctl("ipv6/icmp/echo_ignore_all", "1");
    if (std::system("ip -6 route add local 2001:db8::/64 dev lo") != 0)
        return "cannot route 2001:db8::/64 to loopback";
    return {};
}

std::uint32_t loopback(std::uint8_t last) { return htonl(0x7F000000u | last); }

// The n-th host of the family: on 127.0.0.0/8 or 2001:db8::/64.
Address host(Family family, std::uint32_t n)
{
    const std::uint32_t last = htonl(n);
    std::array<std::uint8_t, 16> bytes{0x20, 0x01, 0x0d, 0xb8};
    std::memcpy(&bytes[12], &last, sizeof last);
    return family == Family::V4 ? Address::v4(htonl(0x7F000000u | n)) : Address::v6(bytes);
}

Bytes text(const char* data) { return Bytes(data, data + std::strlen(data)); }

// An echo request as it went out: IP header and ICMP message.
struct Request {
    Bytes packet;
    std::size_t header;
    std::uint16_t sequence() const { return packets::big16(packet, header + icmp::icmp_header::kSequence); }
};

// Sees every echo request and sends whatever ICMP it is told to, from any
// loopback address.
class Responder {
public:
    Responder() : fd_(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP))
    {
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_IP, IP_HDRINCL, &on, sizeof on);
    }
    ~Responder() { ::close(fd_); }

    std::optional<Request> nextRequest(int waitMs = 1000)
    {
        Bytes buffer(70000);
        for (pollfd watch{fd_, POLLIN, 0}; ::poll(&watch, 1, waitMs) > 0;) {
            const ssize_t length = ::recv(fd_, buffer.data(), buffer.size(), 0);
            const std::size_t header = (buffer[icmp::ip_header::kVersionAndLength] & 0x0F) * 4u;
            if (length >= ssize_t(header + icmp::icmp_header::kLength) &&
                buffer[header + icmp::icmp_header::kType] == icmp::icmp_header::kEchoRequest)
                return Request{Bytes(buffer.begin(), buffer.begin() + length), header};
        }
        return std::nullopt;
    }

    // A damaged message keeps the checksum of the one it was.
    void send(std::uint32_t from, Bytes message, bool damaged = false)
    {
        packets::putChecksum(message, 0);
        message.back() ^= damaged;
        Bytes packet = packets::join({packets::ipv4Header(64, from, loopback(1)), message});
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = loopback(1);
        ::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    }

    // The answer to a request, with other data or from another host if given.
    void answer(const Request& request, const char* data = nullptr, std::uint8_t from = 0, bool damaged = false)
    {
        Bytes message(request.packet.begin() + request.header, request.packet.end());
        message[icmp::icmp_header::kType] = icmp::icmp_header::kEchoReply;
        if (data) {
            message.resize(icmp::icmp_header::kLength);
            message.insert(message.end(), data, data + std::strlen(data));
        }
        const std::uint32_t asked = packets::address(request.packet, icmp::ip_header::kDestination);
        send(from ? loopback(from) : asked, message, damaged);
    }

    // An ICMP error that quotes the request, as a router would send it.
    void fail(const Request& request, std::uint8_t type, std::uint8_t code)
    {
        Bytes message = packets::icmpHeader(type, code, 0, 0);
        message.insert(message.end(), request.packet.begin(),
                       request.packet.begin() + request.header + icmp::icmp_header::kLength);
        send(loopback(254), message);
    }

private:
    int fd_;
};

class PrivateNetwork : public testing::Test {
protected:
    virtual SocketKind kind() const { return SocketKind::Raw; }
    // The plain socket, or lanes with that many threads.
    virtual unsigned lanes() const { return 0; }

    void SetUp() override
    {
        if (const std::string why = enterPrivateNetwork(); !why.empty()) {
            if (private_network::required())
                FAIL() << "CI must run this: " << why;
            GTEST_SKIP() << why;
        }
        // Both made in the new namespace.
        if (lanes() == 0)
            socket_ = EchoSocket::open(kind());
        else
            socket_ = EchoLanes::open(kind(), lanes());
        ASSERT_NE(socket_, nullptr);
        responder_.emplace();
    }

    // Collects until the ticket has settled; what else settles meanwhile is
    // kept for later.
    Settled waitFor(Ticket ticket)
    {
        for (;;) {
            socket_->collect(others_);
            const auto found = std::find_if(others_.begin(), others_.end(),
                                            [&](const Settled& echo) { return echo.ticket == ticket; });
            if (found != others_.end()) {
                Settled settled = std::move(*found);
                others_.erase(found);
                return settled;
            }
            if (socket_->inFlight() == 0) {
                ADD_FAILURE() << "echo " << ticket << " never settled";
                return {};
            }
            socket_->wait(socket_->nextDeadline().value_or(Clock::now() + std::chrono::milliseconds(10)));
        }
    }

    std::unique_ptr<EchoTransport> socket_;
    std::optional<Responder> responder_;
    std::vector<Settled> others_;
};

class EchoEngine : public PrivateNetwork, public testing::WithParamInterface<SocketKind> {
protected:
    SocketKind kind() const override { return GetParam(); }
};

// What holds for the plain socket holds for echoes dealt over lanes.
struct Transport {
    SocketKind kind;
    unsigned lanes;
};

class AnyTransport : public PrivateNetwork, public testing::WithParamInterface<Transport> {
protected:
    SocketKind kind() const override { return GetParam().kind; }
    unsigned lanes() const override { return GetParam().lanes; }
};

// A timeout of 2^31 ms or more (SendEcho and the helper's protocol take any
// 32-bit one) neither wraps into the past nor ends the echo at once: it is
// still in flight, and its answer still counts.
TEST_P(EchoEngine, AnEchoOfTheLongestTimeoutsWaitsForItsAnswer)
{
    for (const std::uint32_t timeoutMs : {2147483648u, 4294967295u}) {
        const auto ticket = socket_->start(Address::v4(loopback(1)), text("LONG"), timeoutMs);
        const auto request = responder_->nextRequest();
        ASSERT_TRUE(request) << timeoutMs;
        socket_->wait(Clock::now() + std::chrono::milliseconds(20));
        std::vector<Settled> settled;
        socket_->collect(settled);
        EXPECT_TRUE(settled.empty()) << timeoutMs;
        EXPECT_GT(socket_->nextDeadline().value_or(Clock::now()), Clock::now() + std::chrono::hours(24 * 24))
            << timeoutMs;
        responder_->answer(*request);
        while (settled.empty() && socket_->inFlight() > 0) {
            socket_->wait(Clock::now() + std::chrono::milliseconds(100));
            socket_->collect(settled);
        }
        ASSERT_EQ(settled.size(), 1u) << timeoutMs;
        EXPECT_EQ(std::pair(settled[0].ticket, settled[0].status), std::pair(ticket, 0)) << timeoutMs;
    }
}

// What came late for an echo that has timed out (its answer, an error about
// it) is never taken for the next one, also when the sequence numbers have
// come round once since, and also when another echo was in flight all along
// (so that the socket could not simply be replaced in between).
TEST_P(EchoEngine, LateAnswersAndErrorsGoNowhere)
{
    enum { Plain, AfterWrap, AfterWrapWithOneInFlight };
    for (const int mode : {Plain, AfterWrap, AfterWrapWithOneInFlight}) {
        const Settled first = socket_->echo(Address::v4(loopback(1)), text("FIRST"), 20);
        ASSERT_EQ(first.status, 11010);
        const auto late = responder_->nextRequest();
        ASSERT_TRUE(late);
        if (mode != Plain) {
            int echoes = 65535;
            if (mode == AfterWrapWithOneInFlight) {
                socket_->start(Address::v4(loopback(7)), text("SILENT"), 60000);
                ASSERT_TRUE(responder_->nextRequest());
                --echoes;
            }
            sysctl("ipv4/icmp_echo_ignore_all", "0");
            for (int i = 0; i < echoes; ++i)
                ASSERT_EQ(socket_->echo(Address::v4(loopback(1)), text("x"), 1000).status, 0) << i;
            sysctl("ipv4/icmp_echo_ignore_all", "1");
            while (responder_->nextRequest(0)) {
            }
        }
        responder_->fail(*late, 3, 1);
        responder_->answer(*late);

        const auto ticket = socket_->start(Address::v4(loopback(1)), text("SECOND"), 2000);
        const auto second = responder_->nextRequest();
        ASSERT_TRUE(second) << "the second echo was not sent";
        if (mode != Plain) {
            ASSERT_EQ(second->sequence(), late->sequence()) << "the sequence numbers have not come round";
        }
        // The late ones again, now that an echo with their sequence number
        // is in flight.
        responder_->answer(*late);
        responder_->fail(*late, 3, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        socket_->collect(others_);
        ASSERT_TRUE(others_.empty()) << "mode " << mode << ": the second echo settled before its answer came";
        responder_->answer(*second);
        const auto settled = waitFor(ticket);
        EXPECT_EQ(settled.status, 0) << "mode " << mode;
        EXPECT_EQ(std::string(settled.data.begin(), settled.data.end()), "SECOND") << "mode " << mode;
        EXPECT_EQ(settled.address, Address::v4(loopback(1)));
    }
}

// Many echoes in flight: answers and errors come in any order and each goes
// to the echo it names; echoes to the same host are kept apart; a silent
// host's echo ends at its own deadline, not at another's. A send that
// failed at once before them leaves no error behind for them.
TEST_P(AnyTransport, EveryAnswerGoesToTheEchoItNames)
{
    EXPECT_EQ(socket_->echo(Address::v4(loopback(1)), Bytes(65510, 'x'), 200).status, 11009);
    struct Echo {
        const char* data;
        std::uint8_t host;
        std::uint32_t timeoutMs;
        std::int32_t status;
        const char* what;  // the responder's part
    };
    const Echo echoes[] = {
        {"ONE", 1, 3000, 0, "answers"},
        {"TWO", 1, 3000, 11003, "fails with host unreachable"},
        {"THREE", 1, 3000, 0, "answers"},
        {"FOUR", 2, 400, 11010, "answers from another host"},
        {"FIVE", 3, 400, 11010, "answers with a bad checksum"},
        {"SIX", 4, 3000, 11005, "fails with port unreachable"},
        {"SILENT", 5, 100, 11010, "stays silent"},
        {"SEVEN", 1, 3000, 0, "answers twice"},
    };
    std::vector<Ticket> tickets;
    std::vector<Request> requests;
    for (const auto& echo : echoes) {
        tickets.push_back(socket_->start(Address::v4(loopback(echo.host)), text(echo.data), echo.timeoutMs));
        const auto request = responder_->nextRequest();
        ASSERT_TRUE(request) << echo.data;
        requests.push_back(*request);
    }
    // Most recent first, and the silent one's deadline passes meanwhile.
    const auto silent = waitFor(tickets[6]);
    EXPECT_EQ(silent.status, 11010);
    EXPECT_TRUE(others_.empty()) << "another echo settled before the silent one timed out";
    EXPECT_EQ(socket_->inFlight(), 7u);
    for (std::size_t i = requests.size(); i-- > 0;) {
        const Request& request = requests[i];
        switch (i) {
        case 1: responder_->fail(request, 3, 1); break;
        case 3: responder_->answer(request, nullptr, 9); break;
        case 4: responder_->answer(request, nullptr, 0, true); break;
        case 5: responder_->fail(request, 3, 3); break;
        case 6: break;
        case 7:
            responder_->answer(request, "SEVEN");
            responder_->answer(request, "EVIL!");
            break;
        default: responder_->answer(request);
        }
    }
    // The two that are never answered time out on their own.
    for (std::size_t i = 0; i < std::size(echoes); ++i) {
        if (i == 6)
            continue;
        const auto settled = waitFor(tickets[i]);
        EXPECT_EQ(settled.status, echoes[i].status) << echoes[i].data << ", " << echoes[i].what;
        if (settled.status == 0) {
            EXPECT_EQ(std::string(settled.data.begin(), settled.data.end()), echoes[i].data);
        }
    }
    socket_->collect(others_);
    EXPECT_TRUE(others_.empty()) << "an echo settled twice";
    EXPECT_EQ(socket_->inFlight(), 0u);
}

// While a process is idle, other traffic fills a raw socket's buffer; the
// next echo must still get its answer.
// (A datagram socket gets only its own echoes' answers.)
TEST_F(PrivateNetwork, AnIdleRawSocketCannotBeFilledUp)
{
    sysctl("ipv4/icmp_echo_ignore_all", "0");
    ASSERT_EQ(socket_->echo(Address::v4(loopback(1)), text("BEFORE"), 1000).status, 0);
    Bytes foreign{0, 0, 0, 0, 0xAB, 0xCD, 0, 1};
    foreign.resize(1000, 'f');
    for (int i = 0; i < 4000; ++i)
        responder_->send(loopback(1), foreign);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(socket_->echo(Address::v4(loopback(1)), text("AFTER"), 1000).status, 0);
}

// A burst far larger than a lane's share of the receive buffer, answered by
// the kernel: every echo settles once, answered, under its own ticket; an
// abandoned one never comes back.
TEST_P(AnyTransport, EveryEchoOfABurstSettlesOnceUnderItsTicket)
{
    sysctl("ipv4/icmp_echo_ignore_all", "0");
    sysctl("ipv6/icmp/echo_ignore_all", "0");
    // Of each family in turn, as both sockets of a lane number their
    // tickets from one count.
    constexpr std::uint32_t kEchoes = 2 * 8192;
    std::vector<Ticket> tickets;
    for (std::uint32_t i = 0; i < kEchoes; ++i) {
        const std::uint32_t n = i / 2;
        tickets.push_back(
            socket_->start(host(i % 2 ? Family::V6 : Family::V4, 0x10000u | (1 + n % 254) << 8 | (1 + n / 254)),
                           text("x"), 5000));
    }
    std::vector<Ticket> abandoned(tickets.end() - 3, tickets.end());
    for (const Ticket ticket : abandoned)
        socket_->abandon(ticket);
    std::sort(abandoned.begin(), abandoned.end());
    std::sort(tickets.begin(), tickets.end());
    ASSERT_EQ(std::adjacent_find(tickets.begin(), tickets.end()), tickets.end()) << "a ticket was given twice";
    std::vector<Ticket> expected;
    std::set_difference(tickets.begin(), tickets.end(), abandoned.begin(), abandoned.end(), std::back_inserter(expected));
    std::vector<Settled> settled;
    const auto giveUp = Clock::now() + std::chrono::seconds(10);
    while (socket_->inFlight() > 0 && settled.size() < expected.size() && Clock::now() < giveUp) {
        socket_->wait(Clock::now() + std::chrono::milliseconds(100));
        socket_->collect(settled);
    }
    EXPECT_EQ(socket_->inFlight(), 0u);
    std::vector<Ticket> answered;
    for (const Settled& echo : settled) {
        EXPECT_EQ(echo.status, 0) << "echo " << echo.ticket;
        answered.push_back(echo.ticket);
    }
    std::sort(answered.begin(), answered.end());
    EXPECT_EQ(answered, expected);
}

INSTANTIATE_TEST_SUITE_P(PlainAndLanes, AnyTransport,
                         testing::Values(Transport{SocketKind::Datagram, 0}, Transport{SocketKind::Raw, 0},
                                         Transport{SocketKind::Datagram, 2}, Transport{SocketKind::Raw, 3}),
                         [](const auto& info) {
                             return std::string(info.param.kind == SocketKind::Raw ? "Raw" : "Datagram") +
                                    (info.param.lanes ? std::to_string(info.param.lanes) + "LaneThreads" : "");
                         });

INSTANTIATE_TEST_SUITE_P(BothKinds, EchoEngine, testing::Values(SocketKind::Datagram, SocketKind::Raw),
                         [](const auto& info) { return info.param == SocketKind::Raw ? "Raw" : "Datagram"; });

}  // namespace
