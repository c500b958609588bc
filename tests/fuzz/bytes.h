#pragma once

// Reading and writing the fields of IPv4 and ICMP bytes, as the packet
// targets build and check them.

#include "platform/net/icmp_packet.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace fuzz {

using Bytes = std::span<const std::uint8_t>;

inline std::uint16_t big16(Bytes bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// An address as it stands in the bytes: network byte order.
inline std::uint32_t address(Bytes bytes, std::size_t at)
{
    std::uint32_t value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

inline bool isUnicast(std::uint32_t destination)
{
    const auto first = static_cast<std::uint8_t>(destination);  // network byte order on a little-endian host
    return destination != 0xFFFFFFFFu && (first < 224 || first > 239);
}

// The echo a packet is judged against, from eight bytes at `at`: its
// destination, identifier and sequence.
inline platform::icmp::EchoIdentity echoIdentity(Bytes bytes, std::size_t at)
{
    return {address(bytes, at), big16(bytes, at + 4), big16(bytes, at + 6)};
}

// Appends the IPv4 header of an ICMP datagram, with the fields the
// classifiers read: version and length, TTL, protocol and the addresses.
inline void appendIpv4Header(std::vector<std::uint8_t>& packet, std::uint32_t source, std::uint32_t destination)
{
    const std::size_t at = packet.size();
    packet.resize(at + 20);
    packet[at] = 0x45;
    packet[at + 8] = 64;
    packet[at + 9] = 1;
    std::memcpy(packet.data() + at + 12, &source, sizeof source);
    std::memcpy(packet.data() + at + 16, &destination, sizeof destination);
}

// Sets the checksum of the ICMP message that starts at `at`.
inline void putChecksum(std::vector<std::uint8_t>& packet, std::size_t at)
{
    packet[at + 2] = packet[at + 3] = 0;
    const std::uint16_t checksum = platform::icmp::internetChecksum(Bytes(packet).subspan(at));
    packet[at + 2] = static_cast<std::uint8_t>(checksum >> 8);
    packet[at + 3] = static_cast<std::uint8_t>(checksum);
}

}  // namespace fuzz
