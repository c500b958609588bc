#pragma once

// IPv4, IPv6, ICMP and ICMPv6 bytes built by hand, as they arrive on a raw socket, for
// the tests and fuzz targets that judge packets. Header-only and free of
// Qt, so that the echo core's tests need nothing else.

#include "icmp/header.h"
#include "icmp/packet.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <vector>

namespace packets {

using Bytes = std::vector<std::uint8_t>;

inline std::uint16_t big16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// An address as it stands in the bytes: network byte order.
inline std::uint32_t address(std::span<const std::uint8_t> bytes, std::size_t at)
{
    std::uint32_t value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// The header of an ICMP datagram with the fields the classifiers read:
// version and length (with NOP options), TTL, protocol and the addresses.
inline Bytes ipv4Header(std::uint8_t ttl, std::uint32_t source, std::uint32_t destination, std::size_t optionWords = 0)
{
    using namespace icmp::ip_header;
    Bytes header(kMinLength + 4 * optionWords, 1);
    std::fill_n(header.begin(), kMinLength, 0);
    header[kVersionAndLength] = static_cast<std::uint8_t>(0x40 | (kMinLength / 4 + optionWords));
    header[kTtl] = ttl;
    header[kProtocol] = kProtocolIcmp;
    std::memcpy(&header[kSource], &source, 4);
    std::memcpy(&header[kDestination], &destination, 4);
    return header;
}

inline icmp::Address v6(const char* text) { return *icmp::Address::parse(text); }

// The fixed header of an IPv6 packet, as an ICMPv6 error quotes it.
inline Bytes ipv6Header(const icmp::Address& source, const icmp::Address& destination,
                        std::uint8_t nextHeader = icmp::ip6_header::kNextHeaderIcmp6)
{
    using namespace icmp::ip6_header;
    Bytes header(kLength, 0);
    header[kVersion] = 0x60;
    header[kNextHeader] = nextHeader;
    std::memcpy(&header[kSource], source.bytes().data(), source.bytes().size());
    std::memcpy(&header[kDestination], destination.bytes().data(), destination.bytes().size());
    return header;
}

inline Bytes icmpHeader(std::uint8_t type, std::uint8_t code, std::uint16_t identifier, std::uint16_t sequence)
{
    return {type,
            code,
            0,
            0,
            std::uint8_t(identifier >> 8),
            std::uint8_t(identifier),
            std::uint8_t(sequence >> 8),
            std::uint8_t(sequence)};
}

inline Bytes join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// Sets the checksum of the ICMP message that starts at `at`.
inline void putChecksum(Bytes& packet, std::size_t at)
{
    using icmp::icmp_header::kChecksum;
    packet[at + kChecksum] = packet[at + kChecksum + 1] = 0;
    const std::uint16_t sum = icmp::internetChecksum(std::span(packet).subspan(at));
    packet[at + kChecksum] = std::uint8_t(sum >> 8);
    packet[at + kChecksum + 1] = std::uint8_t(sum);
}

}  // namespace packets
