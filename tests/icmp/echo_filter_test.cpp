#include "icmp/echo_filter.h"

#include "support/packets.h"
#include "support/socket_filter.h"

#include <gtest/gtest.h>

#include <string>

using packets::Bytes;
using packets::icmpHeader;
using packets::ipv4Header;
using packets::join;

namespace {

constexpr std::uint16_t kOurs = 0x1234;
constexpr std::uint16_t kEarlier = 0xBEEF;  // still in flight after a new identifier was drawn
constexpr std::uint32_t kHost = 0x0A00007Fu;
constexpr std::uint32_t kUs = 0x0100007Fu;

Bytes reply(std::uint16_t identifier, std::size_t optionWords = 0)
{
    return join({ipv4Header(64, kHost, kUs, optionWords), icmpHeader(0, 0, identifier, 7), Bytes(56, 0xAB)});
}

// An ICMP error from a router, quoting a datagram we sent.
Bytes error(std::uint8_t type, Bytes quotedIcmp, std::uint8_t quotedProtocol = 1, std::size_t quotedOptionWords = 0)
{
    Bytes quoted = ipv4Header(1, kUs, kHost, quotedOptionWords);
    quoted[9] = quotedProtocol;
    return join({ipv4Header(64, 0x0102000Au, kUs), icmpHeader(type, 0, 0, 0), quoted, quotedIcmp});
}

Bytes request(std::uint16_t identifier) { return icmpHeader(8, 0, identifier, 7); }

TEST(EchoFilter, PassesOnlyWhatAnswersOurEchoes)
{
    struct Case {
        std::string name;
        Bytes packet;
        bool passes;
    };
    Bytes cutReply = reply(kOurs);
    cutReply.resize(20 + 5);
    Bytes cutError = error(3, request(kOurs));
    cutError.resize(cutError.size() - 3);
    const Case cases[] = {
        {"our reply", reply(kOurs), true},
        {"our reply after IP options", reply(kOurs, 3), true},
        {"a reply to the identifier drawn before", reply(kEarlier), true},
        {"another identifier's reply", reply(0x1235), false},
        {"a reply cut before its identifier", cutReply, false},
        {"an echo request with our identifier", join({ipv4Header(64, kHost, kUs), request(kOurs)}), false},
        {"unreachable, quoting ours", error(3, request(kOurs)), true},
        {"source quench, quoting ours", error(4, request(kOurs)), true},
        {"time exceeded, quoting ours", error(11, request(kOurs)), true},
        {"parameter problem, quoting ours", error(12, request(kOurs)), true},
        {"unreachable, quoting ours after IP options", error(3, request(kOurs), 1, 2), true},
        {"unreachable, quoting the earlier identifier", error(3, request(kEarlier)), true},
        {"a redirect, quoting ours", error(5, request(kOurs)), false},
        {"unreachable, quoting another identifier", error(3, request(0x4321)), false},
        {"unreachable, quoting a UDP datagram", error(3, request(kOurs), 17), false},
        {"unreachable, quoting a reply with our identifier", error(3, icmpHeader(0, 0, kOurs, 7)), false},
        {"unreachable, cut inside the quoted identifier", cutError, false},
        {"nothing", {}, false},
    };
    const std::uint16_t identifiers[] = {kOurs, kEarlier};
    packets::SocketFilter filter(icmp::echoFilter(identifiers));
    for (const auto& c : cases)
        EXPECT_EQ(filter.passes(c.packet), c.passes) << c.name;
}

}  // namespace
