#pragma once

// What became of an echo, as the ICMP echo interface numbers it. The
// engine speaks these numbers itself, so that the status a run writes is
// the one the socket judged, with no table in between.

#include <cstdint>

namespace icmp {

inline constexpr std::int32_t IP_SUCCESS = 0;
inline constexpr std::int32_t IP_BUF_TOO_SMALL = 11001;
inline constexpr std::int32_t IP_DEST_NET_UNREACHABLE = 11002;
inline constexpr std::int32_t IP_DEST_HOST_UNREACHABLE = 11003;
inline constexpr std::int32_t IP_DEST_PROT_UNREACHABLE = 11004;
inline constexpr std::int32_t IP_DEST_PORT_UNREACHABLE = 11005;
inline constexpr std::int32_t IP_NO_RESOURCES = 11006;
inline constexpr std::int32_t IP_PACKET_TOO_BIG = 11009;
inline constexpr std::int32_t IP_REQ_TIMED_OUT = 11010;
inline constexpr std::int32_t IP_BAD_ROUTE = 11012;
inline constexpr std::int32_t IP_TTL_EXPIRED_TRANSIT = 11013;
inline constexpr std::int32_t IP_TTL_EXPIRED_REASSEM = 11014;
inline constexpr std::int32_t IP_PARAM_PROBLEM = 11015;
inline constexpr std::int32_t IP_SOURCE_QUENCH = 11016;
inline constexpr std::int32_t IP_GENERAL_FAILURE = 11050;

// The IPv6 echo interface's own names, where they share a number above.
inline constexpr std::int32_t IP_DEST_NO_ROUTE = 11002;
inline constexpr std::int32_t IP_DEST_ADDR_UNREACHABLE = 11003;
inline constexpr std::int32_t IP_DEST_PROHIBITED = 11004;
inline constexpr std::int32_t IP_HOP_LIMIT_EXCEEDED = 11013;
inline constexpr std::int32_t IP_DEST_UNREACHABLE = 11040;
inline constexpr std::int32_t IP_UNRECOGNIZED_NEXT_HEADER = 11043;
inline constexpr std::int32_t IP_DEST_SCOPE_MISMATCH = 11045;

}  // namespace icmp
