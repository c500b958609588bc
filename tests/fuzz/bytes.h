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

// An input whose first byte is 6 is judged as IPv6 without that byte; any
// other as IPv4, as it is.
inline icmp::Family takeFamily(const std::uint8_t*& input, std::size_t& size)
{
    const bool v6 = size > 0 && input[0] == 6;
    input += v6;
    size -= v6;
    return v6 ? icmp::Family::V6 : icmp::Family::V4;
}

inline std::size_t addressLength(icmp::Family family) { return family == icmp::Family::V6 ? 16 : 4; }

inline icmp::Address addressOf(Bytes bytes, std::size_t at, icmp::Family family = icmp::Family::V4)
{
    return family == icmp::Family::V6 ? icmp::Address::v6(bytes.subspan(at).first<16>())
                                      : icmp::Address::v4(address(bytes, at));
}

// Anyone may answer a broadcast or multicast echo (IPv6 has only ff00::/8).
inline bool isUnicast(const icmp::Address& address)
{
    if (address.isV6())
        return address.bytes()[0] != 0xFF;
    const std::uint32_t destination = address.v4NetworkOrder();
    const auto first = static_cast<std::uint8_t>(destination);  // network byte order on a little-endian host
    return destination != 0xFFFFFFFFu && (first < 224 || first > 239);
}

// The echo a packet is judged against, from the bytes at `at`: its
// destination, identifier and sequence.
inline icmp::EchoIdentity echoIdentity(Bytes bytes, std::size_t at, icmp::Family family = icmp::Family::V4)
{
    const std::size_t past = at + addressLength(family);
    return {addressOf(bytes, at, family), big16(bytes, past), big16(bytes, past + 2)};
}

// The errors that end an echo: never a redirect. ICMPv6 has four, the only
// messages below 128 RFC 4443 defines.
inline bool endsAnEcho(std::uint8_t type, icmp::Family family)
{
    return family == icmp::Family::V6 ? type >= 1 && type <= 4 : type == 3 || type == 4 || type == 11 || type == 12;
}

// Appends the IPv4 header of an ICMP datagram, with the fields the
// classifiers read.
inline void appendIpv4Header(std::vector<std::uint8_t>& packet, std::uint32_t source, std::uint32_t destination)
{
    const auto header = packets::ipv4Header(64, source, destination);
    packet.insert(packet.end(), header.begin(), header.end());
}

}  // namespace fuzz
