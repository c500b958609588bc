#pragma once

// What an ICMP echo sends and what it makes of the packets that come back.
// Pure byte work, so that every rule can be tested on crafted packets.

#include "icmp/address.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace icmp {

// Status of an ICMP message of the given type and code, as the ICMP echo
// interface reports it.
std::int32_t statusFromIcmp(std::uint8_t type, std::uint8_t code);
// The same of an ICMPv6 message, as the IPv6 echo interface reports it.
std::int32_t statusFromIcmp6(std::uint8_t type, std::uint8_t code);

// Status of an echo whose send failed locally with this errno value.
std::int32_t statusFromErrno(int error, Family family = Family::V4);

// What identifies our echo among everything a socket receives.
struct EchoIdentity {
    Address destination;
    std::uint16_t identifier;
    std::uint16_t sequence;
};

struct Verdict {
    enum class Kind { Ignore, Reply, Error };
    Kind kind = Kind::Ignore;
    std::int32_t status = 0;
    Address from;  // the replier or the reporting router
    std::uint8_t ttl = 0;
    std::span<const std::uint8_t> data;  // the echoed data of a reply
};

// The identifier and sequence an incoming message names: a reply's own, or
// those of the echo request an error quotes. A socket with many echoes in
// flight finds by them the one echo whose identity the message is then
// judged against.
struct EchoKey {
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
};

// A whole IPv4 packet as a raw ICMP socket receives it.
std::optional<EchoKey> echoNamedByRawPacket(std::span<const std::uint8_t> packet);
Verdict classifyRawPacket(std::span<const std::uint8_t> packet, const EchoIdentity& echo);

// An ICMPv6 message and its sender, as a raw ICMPv6 socket receives them:
// without IP header, and with a checksum the kernel has checked (it covers
// addresses of the IPv6 header that userspace does not see).
std::optional<EchoKey> echoNamedByRaw6(std::span<const std::uint8_t> message);
Verdict classifyRaw6(std::span<const std::uint8_t> message, const Address& from, const EchoIdentity& echo);

// An ICMP or ICMPv6 message without IP header, and its sender, as a
// datagram ("ping") socket of the family receives them; the kernel has
// matched the identifier already and checked the checksum.
std::optional<EchoKey> echoNamedByDatagram(std::span<const std::uint8_t> message, Family family = Family::V4);
Verdict classifyDatagram(std::span<const std::uint8_t> message, const Address& from, const EchoIdentity& echo);

// An entry of a datagram socket's error queue, as recvmsg(MSG_ERRQUEUE)
// hands it over.
struct QueuedError {
    enum class Origin { Local, Icmp, Icmp6, Other };
    Origin origin = Origin::Other;
    std::uint8_t type = 0;  // of the ICMP or ICMPv6 error
    std::uint8_t code = 0;
    int error = 0;                         // errno value
    Address destination;                   // where the failed echo went
    Address offender;                      // who reported it
    std::span<const std::uint8_t> quoted;  // the start of our echo request, as the error quoted it
};

std::optional<EchoKey> echoNamedByQueuedError(const QueuedError& error);
Verdict classifyQueuedError(const QueuedError& error, const EchoIdentity& echo);

// An echo request: type 8, code 0, checksum, identifier, sequence, data.
// An ICMPv6 one (type 128) leaves the checksum 0: the kernel computes it,
// over a pseudo-header with the source address that it alone picks.
std::vector<std::uint8_t> buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                           std::span<const std::uint8_t> data, Family family = Family::V4);
// The same into `packet`, whose room serves the next request too.
void buildEchoRequest(std::vector<std::uint8_t>& packet, std::uint16_t identifier, std::uint16_t sequence,
                      std::span<const std::uint8_t> data, Family family);

std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes);

}  // namespace icmp
