#pragma once

// What an ICMP echo sends and what it makes of the packets that come back.
// Pure byte work, so that every rule can be tested on crafted packets.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace icmp {

// Status of an ICMP message of the given type and code, as the ICMP echo
// interface reports it.
std::int32_t statusFromIcmp(std::uint8_t type, std::uint8_t code);

// Status of an echo whose send failed locally with this errno value.
std::int32_t statusFromErrno(int error);

// What identifies our echo among everything a socket receives.
struct EchoIdentity {
    std::uint32_t destination;  // network byte order
    std::uint16_t identifier;
    std::uint16_t sequence;
};

struct Verdict {
    enum class Kind { Ignore, Reply, Error };
    Kind kind = Kind::Ignore;
    std::int32_t status = 0;
    std::uint32_t from = 0;  // network byte order; the replier or the reporting router
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

// An ICMP message without IP header, and its sender, as a datagram ("ping")
// socket receives them; the kernel has matched the identifier already and
// checked the checksum.
std::optional<EchoKey> echoNamedByDatagram(std::span<const std::uint8_t> message);
Verdict classifyDatagram(std::span<const std::uint8_t> message, std::uint32_t from, const EchoIdentity& echo);

// An entry of a datagram socket's error queue, as recvmsg(MSG_ERRQUEUE)
// hands it over.
struct QueuedError {
    enum class Origin { Local, Icmp, Other };
    Origin origin = Origin::Other;
    std::uint8_t type = 0;  // of the ICMP error
    std::uint8_t code = 0;
    int error = 0;                         // errno value
    std::uint32_t destination = 0;         // where the failed echo went, network byte order
    std::uint32_t offender = 0;            // who reported it, network byte order
    std::span<const std::uint8_t> quoted;  // the start of our echo request, as the error quoted it
};

std::optional<EchoKey> echoNamedByQueuedError(const QueuedError& error);
Verdict classifyQueuedError(const QueuedError& error, const EchoIdentity& echo);

// An echo request: type 8, code 0, checksum, identifier, sequence, data.
std::vector<std::uint8_t> buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                           std::span<const std::uint8_t> data);

std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes);

}  // namespace icmp
