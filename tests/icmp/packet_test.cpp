#include "icmp/packet.h"

#include "support/packets.h"
#include "icmp/status.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

using namespace icmp;
using packets::Bytes;
using packets::icmpHeader;
using packets::ipv4Header;
using packets::join;

namespace {

// ICMPv6's errors that the network lab cannot make are its rows here.
TEST(IcmpStatus, MapsTypeAndCodeAsTheEchoInterfaceReportsThem)
{
    struct Case {
        std::uint8_t type, code;
        std::int32_t status;
        bool icmp6 = false;
    };
    const Case cases[] = {
        {0, 0, 0},           {3, 0, 11002},       {3, 6, 11002},         {3, 9, 11002},       {3, 11, 11002},
        {3, 1, 11003},       {3, 7, 11003},       {3, 8, 11003},         {3, 10, 11003},      {3, 12, 11003},
        {3, 13, 11003},      {3, 14, 11003},      {3, 15, 11003},        {3, 16, 11003},      {3, 255, 11003},
        {3, 2, 11004},       {3, 3, 11005},       {3, 4, 11009},         {3, 5, 11012},       {11, 0, 11013},
        {11, 1, 11014},      {11, 7, 11013},      {12, 0, 11015},        {12, 2, 11015},      {4, 0, 11016},
        {1, 2, 11045, true}, {1, 5, 11040, true}, {1, 255, 11040, true}, {2, 0, 11009, true}, {3, 1, 11014, true},
        {4, 0, 11015, true}, {4, 1, 11043, true}, {4, 2, 11015, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ((c.icmp6 ? statusFromIcmp6 : statusFromIcmp)(c.type, c.code), c.status)
            << int(c.type) << "/" << int(c.code) << (c.icmp6 ? " ICMPv6" : "");
}

TEST(IcmpStatus, MapsLocalSendFailures)
{
    EXPECT_EQ(statusFromErrno(ENETUNREACH), 11002);
    EXPECT_EQ(statusFromErrno(EHOSTUNREACH), 11003);
    EXPECT_EQ(statusFromErrno(EMSGSIZE), 11009);
    EXPECT_EQ(statusFromErrno(ENOBUFS), 11006);
    EXPECT_EQ(statusFromErrno(ENOMEM), 11006);
    EXPECT_EQ(statusFromErrno(EACCES), 11050);
    EXPECT_EQ(statusFromErrno(EPERM), 11050);
    EXPECT_EQ(statusFromErrno(0), 11050);
    EXPECT_EQ(statusFromErrno(EACCES, Family::V6), 11004);  // a prohibit route
}

// Packets are built as they arrive on a raw socket: IPv4 header, ICMP.
constexpr std::uint32_t kDest = 0x0702000Cu;  // any value: compared as bytes
const EchoIdentity kEcho{{}, 0x1234, 0x0042};

Address v4(std::uint32_t networkOrder) { return Address::v4(networkOrder); }

EchoIdentity echoTo(std::uint32_t destination) { return {v4(destination), kEcho.identifier, kEcho.sequence}; }

Bytes checksummed(Bytes packet, std::size_t icmpStart = 20)
{
    packets::putChecksum(packet, icmpStart);
    return packet;
}

Bytes reply(std::uint16_t id, std::uint16_t seq, std::size_t optionWords = 0)
{
    return checksummed(join({ipv4Header(57, kDest, 0x0100007F, optionWords), icmpHeader(0, 0, id, seq),
                             Bytes{'E', 'C', 'H', 'O', ' ', 'T', 'H', 'I', 'S'}}),
                       20 + 4 * optionWords);
}

Bytes error(std::uint8_t type, std::uint8_t code, std::uint32_t quotedDestination, std::uint16_t id,
            std::uint16_t seq, std::size_t quotedOptionWords = 0)
{
    const std::uint32_t router = 0x01020304u;
    return checksummed(
        join({ipv4Header(64, router, 0x0100007F), icmpHeader(type, code, 0, 0),
              ipv4Header(63, 0x0100007F, quotedDestination, quotedOptionWords), icmpHeader(8, 0, id, seq)}));
}

// For a status of -1, nothing taken; else an error from the router about
// the echo it names.
void expectError(const Verdict& verdict, std::int32_t status, std::optional<EchoKey> named, const std::string& row)
{
    if (status < 0) {
        EXPECT_EQ(verdict.kind, Verdict::Kind::Ignore) << row;
        return;
    }
    ASSERT_EQ(verdict.kind, Verdict::Kind::Error) << row;
    EXPECT_EQ(verdict.status, status) << row;
    EXPECT_EQ(verdict.from, Address::v4(0x01020304u)) << row;
    ASSERT_TRUE(named) << row;
    EXPECT_EQ(named->sequence, 0x0042) << row;
}

TEST(RawPacket, TakesOnlyTheReplyToThisEcho)
{
    const auto ours = reply(0x1234, 0x0042);
    const Verdict verdict = classifyRawPacket(ours, echoTo(kDest));
    ASSERT_EQ(verdict.kind, Verdict::Kind::Reply);
    EXPECT_EQ(verdict.from, v4(kDest));
    EXPECT_EQ(verdict.ttl, 57);
    EXPECT_EQ(Bytes(verdict.data.begin(), verdict.data.end()), (Bytes{'E', 'C', 'H', 'O', ' ', 'T', 'H', 'I', 'S'}));

    // Another process's echo, a late answer to an earlier host, our own
    // request seen on loopback, and a redirect: all ignored.
    EXPECT_EQ(classifyRawPacket(reply(0x9999, 0x0042), echoTo(kDest)).kind, Verdict::Kind::Ignore);
    EXPECT_EQ(classifyRawPacket(reply(0x1234, 0x0041), echoTo(kDest)).kind, Verdict::Kind::Ignore);
    auto request = ours;
    request[20] = 8;
    request = checksummed(request);
    EXPECT_EQ(classifyRawPacket(request, echoTo(kDest)).kind, Verdict::Kind::Ignore);
    EXPECT_EQ(classifyRawPacket(error(5, 1, kDest, 0x1234, 0x0042), echoTo(kDest)).kind, Verdict::Kind::Ignore);

    // Another process that shares our identifier and sequence asked another
    // host: its reply is not ours. Multicast and broadcast echoes are
    // answered by other hosts than the one asked.
    const std::uint32_t otherHost = 0x0A0B0C0Du;
    EXPECT_EQ(classifyRawPacket(ours, echoTo(otherHost)).kind, Verdict::Kind::Ignore);
    for (const std::uint32_t group : {0x010000E0u, 0xFFFFFFEFu, 0xFFFFFFFFu})
        EXPECT_EQ(classifyRawPacket(ours, echoTo(group)).kind, Verdict::Kind::Reply) << std::hex << group;
}

TEST(RawPacket, ReadsHeadersWithOptions)
{
    const Verdict verdict = classifyRawPacket(reply(0x1234, 0x0042, 3), echoTo(kDest));
    ASSERT_EQ(verdict.kind, Verdict::Kind::Reply);
    EXPECT_EQ(verdict.data.size(), 9u);

    const Verdict quoted = classifyRawPacket(error(11, 0, kDest, 0x1234, 0x0042, 2), echoTo(kDest));
    ASSERT_EQ(quoted.kind, Verdict::Kind::Error);
    EXPECT_EQ(quoted.status, 11013);
}

TEST(RawPacket, TakesOnlyErrorsThatEndAnEchoAndQuoteThisOne)
{
    struct Case {
        Bytes packet;
        std::int32_t status;  // -1: ignored
    };
    const Case cases[] = {
        {error(3, 1, kDest, 0x1234, 0x0042), 11003},
        {error(12, 0, kDest, 0x1234, 0x0042), 11015},  // parameter problem
        {error(4, 0, kDest, 0x1234, 0x0042), 11016},   // source quench
        {error(11, 0, kDest, 0x1234, 0x0042), 11013},
        {error(5, 1, kDest, 0x1234, 0x0042), -1},       // a redirect: the echo goes on
        {error(3, 1, 0x0A0B0C0D, 0x1234, 0x0042), -1},  // about another destination
        {error(3, 1, kDest, 0x1235, 0x0042), -1},
        {error(3, 1, kDest, 0x1234, 0x0043), -1},
    };
    for (const auto& c : cases)
        expectError(classifyRawPacket(c.packet, echoTo(kDest)), c.status, echoNamedByRawPacket(c.packet),
                    std::to_string(c.packet[20]) + "/" + std::to_string(c.packet[21]));
}

// The kernel checks no checksum for a raw socket; a damaged answer or error
// must not count, as the datagram socket never sees one.
TEST(RawPacket, RefusesABadChecksum)
{
    for (Bytes packet : {reply(0x1234, 0x0042), error(3, 1, kDest, 0x1234, 0x0042)}) {
        ASSERT_NE(classifyRawPacket(packet, echoTo(kDest)).kind, Verdict::Kind::Ignore);
        packet.back() ^= 0x01;
        EXPECT_EQ(classifyRawPacket(packet, echoTo(kDest)).kind, Verdict::Kind::Ignore) << int(packet[20]);
    }
}

TEST(RawPacket, SurvivesTruncatedAndMalformedPackets)
{
    const auto whole = error(3, 0, kDest, 0x1234, 0x0042);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(classifyRawPacket(cut, echoTo(kDest)).kind, Verdict::Kind::Ignore) << length;
    }
    auto badLength = reply(0x1234, 0x0042);
    badLength[0] = 0x4F;  // claims 60 bytes of header in a 37-byte packet
    EXPECT_EQ(classifyRawPacket(badLength, echoTo(kDest)).kind, Verdict::Kind::Ignore);
    badLength[0] = 0x44;  // shorter than any IPv4 header
    EXPECT_EQ(classifyRawPacket(badLength, echoTo(kDest)).kind, Verdict::Kind::Ignore);
    auto notV4 = reply(0x1234, 0x0042);
    notV4[0] = 0x65;
    EXPECT_EQ(classifyRawPacket(notV4, echoTo(kDest)).kind, Verdict::Kind::Ignore);
}

// The kernel has matched the identifier; the sequence and the sender are
// ours to check.
TEST(DatagramMessage, TakesOnlyTheReplyFromTheHostAsked)
{
    const Bytes ours = join({icmpHeader(0, 0, 0x7777, 0x0042), Bytes{'h', 'i'}});
    const Verdict verdict = classifyDatagram(ours, v4(kDest), echoTo(kDest));
    ASSERT_EQ(verdict.kind, Verdict::Kind::Reply);
    EXPECT_EQ(verdict.from, v4(kDest));
    EXPECT_EQ(verdict.data.size(), 2u);
    EXPECT_EQ(echoNamedByDatagram(ours)->sequence, 0x0042);

    struct Case {
        const char* what;
        Bytes message;
        std::uint32_t from, asked;
        bool taken;
    };
    const Case cases[] = {
        {"another sequence", join({icmpHeader(0, 0, 0x7777, 0x0043)}), kDest, kDest, false},
        {"cut short", Bytes(ours.begin(), ours.begin() + 7), kDest, kDest, false},
        {"not a reply", join({icmpHeader(8, 0, 0x7777, 0x0042)}), kDest, kDest, false},
        {"another sender", ours, 0x0A0B0C0Du, kDest, false},
        {"any sender for a group", ours, 0x0A0B0C0Du, 0x010000E0u, true},
        {"any sender for broadcast", ours, 0x0A0B0C0Du, 0xFFFFFFFFu, true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(classifyDatagram(c.message, v4(c.from), echoTo(c.asked)).kind == Verdict::Kind::Reply, c.taken)
            << c.what;
}

TEST(DatagramErrorQueue, TakesOnlyIcmpErrorsThatEndThisEcho)
{
    // The quoted bytes live here: the errors only point at them.
    const Bytes request = icmpHeader(8, 0, 0x7777, 0x0042);
    const Bytes otherRequest = icmpHeader(8, 0, 0x7777, 0x0043);
    const Bytes answer = icmpHeader(0, 0, 0x7777, 0x0042);
    const Bytes cut(request.begin(), request.end() - 1);
    const std::uint32_t router = 0x01020304u;
    using Origin = QueuedError::Origin;
    struct Case {
        const char* what;
        QueuedError error;
        std::int32_t status;  // -1: ignored
    };
    const Case cases[] = {
        {"host unreachable", {Origin::Icmp, 3, 1, EHOSTUNREACH, v4(kDest), v4(router), request}, 11003},
        {"port unreachable", {Origin::Icmp, 3, 3, ECONNREFUSED, v4(kDest), v4(router), request}, 11005},
        {"time exceeded", {Origin::Icmp, 11, 0, EHOSTUNREACH, v4(kDest), v4(router), request}, 11013},
        {"parameter problem", {Origin::Icmp, 12, 0, EPROTO, v4(kDest), v4(router), request}, 11015},
        {"source quench", {Origin::Icmp, 4, 0, EREMOTEIO, v4(kDest), v4(router), request}, 11016},
        {"redirect", {Origin::Icmp, 5, 1, EREMOTEIO, v4(kDest), v4(router), request}, -1},
        {"another echo", {Origin::Icmp, 3, 1, EHOSTUNREACH, v4(kDest), v4(router), otherRequest}, -1},
        {"another destination", {Origin::Icmp, 3, 1, EHOSTUNREACH, v4(0x0A0B0C0Du), v4(router), request}, -1},
        {"not our request", {Origin::Icmp, 3, 1, EHOSTUNREACH, v4(kDest), v4(router), answer}, -1},
        {"quote cut short", {Origin::Icmp, 3, 1, EHOSTUNREACH, v4(kDest), v4(router), cut}, -1},
        // An earlier send's own failure, left in the queue.
        {"local error", {Origin::Local, 0, 0, EMSGSIZE, v4(kDest), v4(0), {}}, -1},
        {"local error quoting", {Origin::Local, 0, 0, EMSGSIZE, v4(kDest), v4(0), request}, -1},
    };
    for (const auto& c : cases)
        expectError(classifyQueuedError(c.error, echoTo(kDest)), c.status, echoNamedByQueuedError(c.error), c.what);
}

TEST(EchoRequest, CarriesTheDataAndAValidChecksum)
{
    const Bytes data{'E', 'C', 'H', 'O', ' ', 'T', 'H', 'I', 'S'};
    const auto packet = buildEchoRequest(0xBEEF, 0x0102, data);
    ASSERT_EQ(packet.size(), 17u);
    EXPECT_EQ(packet[0], 8);
    EXPECT_EQ(packet[4], 0xBE);
    EXPECT_EQ(packet[5], 0xEF);
    EXPECT_EQ(packet[6], 0x01);
    EXPECT_EQ(packet[7], 0x02);
    EXPECT_EQ(Bytes(packet.begin() + 8, packet.end()), data);
    EXPECT_EQ(internetChecksum(packet), 0);  // odd length: the last byte is padded
}

}  // namespace
