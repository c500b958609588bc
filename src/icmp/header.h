#pragma once

// Where the fields of the IPv4, IPv6, ICMP and ICMPv6 headers lie, counted
// in bytes from the start of each header (RFC 791, RFC 792, RFC 8200,
// RFC 4443). Multi-byte fields are big-endian on the wire; addresses are
// kept as they travel.

#include <cstddef>
#include <cstdint>

namespace icmp {

namespace ip_header {
inline constexpr std::size_t kVersionAndLength = 0;  // version in the high nibble, length in 32-bit words below
inline constexpr std::size_t kTotalLength = 2;
inline constexpr std::size_t kTtl = 8;
inline constexpr std::size_t kProtocol = 9;
inline constexpr std::size_t kChecksum = 10;
inline constexpr std::size_t kSource = 12;
inline constexpr std::size_t kDestination = 16;
inline constexpr std::size_t kMinLength = 20;
inline constexpr std::uint8_t kProtocolIcmp = 1;
}  // namespace ip_header

// An ICMPv6 error quotes the IPv6 header of the packet that failed; a raw
// ICMPv6 socket hands over no header of the packet it receives.
namespace ip6_header {
inline constexpr std::size_t kVersion = 0;  // in the high nibble
inline constexpr std::size_t kNextHeader = 6;
inline constexpr std::size_t kSource = 8;
inline constexpr std::size_t kDestination = 24;
inline constexpr std::size_t kLength = 40;
inline constexpr std::uint8_t kNextHeaderIcmp6 = 58;
}  // namespace ip6_header

namespace icmp_header {
inline constexpr std::size_t kType = 0;
inline constexpr std::size_t kCode = 1;
inline constexpr std::size_t kChecksum = 2;
inline constexpr std::size_t kIdentifier = 4;  // of an echo, and of the request an error quotes
inline constexpr std::size_t kSequence = 6;
inline constexpr std::size_t kLength = 8;  // an error's quoted datagram, or an echo's data, follows

inline constexpr std::uint8_t kEchoReply = 0;
inline constexpr std::uint8_t kDestUnreachable = 3;
inline constexpr std::uint8_t kSourceQuench = 4;
inline constexpr std::uint8_t kEchoRequest = 8;
inline constexpr std::uint8_t kTimeExceeded = 11;
inline constexpr std::uint8_t kParameterProblem = 12;
}  // namespace icmp_header

// The fields lie where ICMP's do; the types differ, errors below 128.
namespace icmp6_header {
inline constexpr std::uint8_t kDestUnreachable = 1;
inline constexpr std::uint8_t kPacketTooBig = 2;
inline constexpr std::uint8_t kTimeExceeded = 3;
inline constexpr std::uint8_t kParameterProblem = 4;
inline constexpr std::uint8_t kEchoRequest = 128;
inline constexpr std::uint8_t kEchoReply = 129;
}  // namespace icmp6_header

}  // namespace icmp
