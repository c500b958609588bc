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

inline bool isUnicast(std::uint32_t destination)
{
    const auto first = static_cast<std::uint8_t>(destination);  // network byte order on a little-endian host
    return destination != 0xFFFFFFFFu && (first < 224 || first > 239);
}

// The echo a packet is judged against, from eight bytes at `at`: its
// destination, identifier and sequence.
inline icmp::EchoIdentity echoIdentity(Bytes bytes, std::size_t at)
{
    return {address(bytes, at), big16(bytes, at + 4), big16(bytes, at + 6)};
}

// Appends the IPv4 header of an ICMP datagram, with the fields the
// classifiers read.
inline void appendIpv4Header(std::vector<std::uint8_t>& packet, std::uint32_t source, std::uint32_t destination)
{
    const auto header = packets::ipv4Header(64, source, destination);
    packet.insert(packet.end(), header.begin(), header.end());
}

}  // namespace fuzz
