#pragma once

// The classic BPF program a raw ICMP socket runs on every packet before it
// is queued, so that the queue holds only what may be ours: a raw socket
// otherwise receives every ICMP message that reaches the machine, and
// another program's flood fills its buffer until our answers are dropped.

#include "icmp/address.h"

#include <cstdint>
#include <span>
#include <vector>

#include <linux/filter.h>

namespace icmp {

// Passes an echo reply whose identifier is one of those given, and a
// destination unreachable, source quench, time exceeded or parameter
// problem that quotes an ICMP echo request with one of them; refuses
// everything else. It sees the packet from its IPv4 header on, as a raw
// socket does. Looser than classifyRawPacket (no checksum, sequence or
// address), which still judges whatever passes. The IPv6 program passes
// the same of ICMPv6 (an echo reply, or an error quoting an echo request
// of ours), from the ICMPv6 header on, as a raw ICMPv6 socket sees it;
// classifyRaw6 judges what passes.
std::vector<sock_filter> echoFilter(std::span<const std::uint16_t> identifiers, Family family = Family::V4);

// Attaches the program in place of the socket's previous one.
bool attachEchoFilter(int fd, std::span<const std::uint16_t> identifiers, Family family = Family::V4);

}  // namespace icmp
