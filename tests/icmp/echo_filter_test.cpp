#include "icmp/echo_filter.h"

#include "support/packets.h"
#include "support/socket_filter.h"

#include <gtest/gtest.h>

namespace {

using namespace packets;

constexpr std::uint16_t kOurs = 0x1234;
constexpr std::uint16_t kEarlier = 0xBEEF;  // still in flight after a new identifier was drawn
constexpr std::uint32_t kHost = 0x0A00007Fu, kUs = 0x0100007Fu;

Bytes reply(std::uint16_t identifier, std::size_t optionWords = 0)
{
    return join({ipv4Header(64, kHost, kUs, optionWords), icmpHeader(0, 0, identifier, 7), Bytes(56, 0xAB)});
}

// A router's error quoting a datagram we sent: an echo request unless told.
Bytes error(std::uint8_t type, std::uint16_t identifier, std::size_t optionWords = 0, std::uint8_t quotedType = 8,
            std::uint8_t quotedProtocol = 1)
{
    Bytes quoted = ipv4Header(1, kUs, kHost, optionWords);
    quoted[icmp::ip_header::kProtocol] = quotedProtocol;
    return join({ipv4Header(64, 0x0102000Au, kUs, optionWords), icmpHeader(type, 0, 0, 0), quoted,
                 icmpHeader(quotedType, 0, identifier, 7)});
}

// An ICMPv6 error as a raw ICMPv6 socket sees it: no IP header before it.
Bytes error6(std::uint8_t type, std::uint16_t identifier, std::uint8_t nextHeader = 58)
{
    return join({icmpHeader(type, 0, 0, 0), ipv6Header(v6("2001:db8::1"), v6("2001:db8::2"), nextHeader),
                 icmpHeader(128, 0, identifier, 7)});
}

TEST(EchoFilter, PassesOnlyWhatAnswersOurEchoes)
{
    using icmp::Family;
    const struct {
        const char* name;
        Bytes packet;
        bool passes;
        Family family = Family::V4;
    } cases[] = {
        {"our reply", reply(kOurs), true},
        {"our reply after IP options", reply(kOurs, 3), true},
        {"a reply to the identifier drawn before", reply(kEarlier), true},
        {"another identifier's reply", reply(0x1235), false},
        {"an echo request with our identifier", join({ipv4Header(64, kHost, kUs), icmpHeader(8, 0, kOurs, 7)}), false},
        {"unreachable, quoting ours", error(3, kOurs), true},
        {"source quench, quoting the earlier identifier", error(4, kEarlier), true},
        {"time exceeded, quoting ours, both with IP options", error(11, kOurs, 2), true},
        {"parameter problem, quoting ours", error(12, kOurs), true},
        {"unreachable, quoting another identifier", error(3, 0x4321), false},
        {"unreachable, quoting a reply with our identifier", error(3, kOurs, 0, 0), false},
        {"unreachable, quoting a UDP datagram", error(3, kOurs, 0, 8, 17), false},
        {"another identifier's ICMPv6 reply", icmpHeader(129, 0, 0x1235, 7), false, Family::V6},
        {"packet too big, quoting ours", error6(2, kEarlier), true, Family::V6},
        {"a redirect, quoting ours", error6(137, kOurs), false, Family::V6},
        {"ICMPv6 unreachable, quoting a UDP datagram", error6(1, kOurs, 17), false, Family::V6},
    };
    const std::uint16_t identifiers[] = {kOurs, kEarlier};
    for (const auto& c : cases)
        EXPECT_EQ(filterPasses(icmp::echoFilter(identifiers, c.family), c.packet), c.passes) << c.name;
}

}  // namespace
