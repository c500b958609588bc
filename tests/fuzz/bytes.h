#pragma once

// What the packet targets add to the tests' packet builder.

#include "icmp/packet.h"
#include "support/packets.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace fuzz {

using Bytes = std::span<const std::uint8_t>;

using packets::address;
using packets::big16;
using packets::putChecksum;

inline bool isUnicast(const icmp::Address& address)
{
    const std::uint32_t destination = address.v4NetworkOrder();
    const auto first = static_cast<std::uint8_t>(destination);  // network byte order on a little-endian host
    return destination != 0xFFFFFFFFu && (first < 224 || first > 239);
}

// The echo a packet is judged against, from eight bytes at `at`: its
// destination, identifier and sequence.
inline icmp::EchoIdentity echoIdentity(Bytes bytes, std::size_t at)
{
    return {icmp::Address::v4(address(bytes, at)), big16(bytes, at + 4), big16(bytes, at + 6)};
}

// An IPv6 address: 16 bytes at `at`.
inline icmp::Address address6(Bytes bytes, std::size_t at)
{
    return icmp::Address::v6(bytes.subspan(at).first<16>());
}

// The same of an IPv6 echo, from twenty bytes.
inline icmp::EchoIdentity echoIdentity6(Bytes bytes, std::size_t at)
{
    return {address6(bytes, at), big16(bytes, at + 16), big16(bytes, at + 18)};
}

// Any host may answer a multicast echo (ff00::/8); IPv6 has no broadcast.
inline bool isUnicast6(const icmp::Address& destination) { return destination.bytes()[0] != 0xFF; }

// The four ICMPv6 errors, the only messages below 128 RFC 4443 defines.
inline bool endsAnEcho6(std::uint8_t type) { return type >= 1 && type <= 4; }

// What an ICMPv6 error quotes, as the raw socket and the error queue hold
// it: whether it is our echo request to our destination, behind the fixed
// IPv6 header.
inline bool quotesOurRequest6(Bytes quoted, const icmp::EchoIdentity& echo, bool checkIdentifier)
{
    return quoted.size() >= 48 && quoted[0] >> 4 == 6 && quoted[6] == 58 &&
           address6(quoted, 24) == echo.destination && quoted[40] == 128 &&
           (!checkIdentifier || big16(quoted, 44) == echo.identifier) && big16(quoted, 46) == echo.sequence;
}

// Appends the IPv4 header of an ICMP datagram, with the fields the
// classifiers read.
inline void appendIpv4Header(std::vector<std::uint8_t>& packet, std::uint32_t source, std::uint32_t destination)
{
    const auto header = packets::ipv4Header(64, source, destination);
    packet.insert(packet.end(), header.begin(), header.end());
}

}  // namespace fuzz
