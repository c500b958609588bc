#include "icmp/packet.h"

#include "icmp/header.h"
#include "icmp/status.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace icmp {
namespace {

using namespace icmp_header;
using ip_header::kProtocolIcmp;

std::uint16_t big16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void putBig16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value)
{
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

std::uint32_t address32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    std::uint32_t address;
    std::memcpy(&address, bytes.data() + at, sizeof address);
    return address;
}

// Length of the IPv4 header that starts the bytes, or 0 when they do not
// start with a whole one.
std::size_t ipHeaderLength(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < ip_header::kMinLength || (bytes[ip_header::kVersionAndLength] >> 4) != 4)
        return 0;
    const std::size_t length = (bytes[ip_header::kVersionAndLength] & 0x0F) * 4u;
    return length >= ip_header::kMinLength && length <= bytes.size() ? length : 0;
}

// Multicast and the limited broadcast may be answered by any host; every
// other destination answers for itself.
bool isUnicast(const Address& destination)
{
    const std::uint8_t first = destination.bytes()[0];
    if (destination.isV6())
        return first != 0xFF;
    return destination.v4NetworkOrder() != 0xFFFFFFFFu && !(first >= 224 && first <= 239);
}

// The errors that end an echo, on both kinds of socket alike. A redirect
// only tells the sender of a better first hop: the echo goes on and may
// still be answered.
bool endsAnEcho(std::uint8_t type)
{
    return type == kDestUnreachable || type == kSourceQuench || type == kTimeExceeded || type == kParameterProblem;
}

// Every ICMPv6 error that quotes a packet of ours: the four of RFC 4443.
bool endsAnEcho6(std::uint8_t type)
{
    return type >= icmp6_header::kDestUnreachable && type <= icmp6_header::kParameterProblem;
}

struct QuotedEcho {
    Address destination;
    EchoKey key;
};

// The original datagram quoted by an ICMP error, when it is an ICMP echo
// request: its IP header and at least the 8 bytes of the request's header.
std::optional<QuotedEcho> quotedEcho(std::span<const std::uint8_t> quoted)
{
    const std::size_t header = ipHeaderLength(quoted);
    if (header == 0 || quoted.size() < header + kLength || quoted[ip_header::kProtocol] != kProtocolIcmp ||
        quoted[header + kType] != kEchoRequest)
        return std::nullopt;
    return QuotedEcho{Address::v4(address32(quoted, ip_header::kDestination)),
                      {big16(quoted, header + kIdentifier), big16(quoted, header + kSequence)}};
}

// The same of an ICMPv6 error: the failed packet's IPv6 header, then the
// echo request's header. Ours carry no extension headers, so a packet
// that does is not ours.
std::optional<QuotedEcho> quotedEcho6(std::span<const std::uint8_t> quoted)
{
    using namespace ip6_header;
    if (quoted.size() < ip6_header::kLength + icmp_header::kLength || (quoted[kVersion] >> 4) != 6 ||
        quoted[kNextHeader] != kNextHeaderIcmp6 || quoted[ip6_header::kLength + kType] != icmp6_header::kEchoRequest)
        return std::nullopt;
    return QuotedEcho{Address::v6(quoted.subspan(kDestination).first<16>()),
                      {big16(quoted, ip6_header::kLength + kIdentifier), big16(quoted, ip6_header::kLength + kSequence)}};
}

// The ICMP message of an IPv4 packet (the kernel has cut it to its total
// length); empty when it is not a whole ICMP packet.
std::span<const std::uint8_t> rawMessage(std::span<const std::uint8_t> packet)
{
    const std::size_t header = ipHeaderLength(packet);
    if (header == 0 || packet[ip_header::kProtocol] != kProtocolIcmp || packet.size() < header + kLength)
        return {};
    return packet.subspan(header);
}

bool answersFor(const Address& from, const Address& destination)
{
    return from == destination || (from.family() == destination.family() && !isUnicast(destination));
}

}  // namespace

std::int32_t statusFromIcmp(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case kEchoReply: return IP_SUCCESS;
    case kDestUnreachable:
        switch (code) {
        case 0:
        case 6:
        case 9:
        case 11: return IP_DEST_NET_UNREACHABLE;
        case 2: return IP_DEST_PROT_UNREACHABLE;
        case 3: return IP_DEST_PORT_UNREACHABLE;
        case 4: return IP_PACKET_TOO_BIG;
        case 5: return IP_BAD_ROUTE;
        default: return IP_DEST_HOST_UNREACHABLE;
        }
    case kTimeExceeded: return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_TTL_EXPIRED_TRANSIT;
    case kParameterProblem: return IP_PARAM_PROBLEM;
    case kSourceQuench: return IP_SOURCE_QUENCH;
    default: return IP_GENERAL_FAILURE;
    }
}

std::int32_t statusFromIcmp6(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case icmp6_header::kEchoReply: return IP_SUCCESS;
    case icmp6_header::kDestUnreachable:
        switch (code) {
        case 0: return IP_DEST_NO_ROUTE;
        case 1: return IP_DEST_PROHIBITED;
        case 2: return IP_DEST_SCOPE_MISMATCH;
        case 3: return IP_DEST_ADDR_UNREACHABLE;
        case 4: return IP_DEST_PORT_UNREACHABLE;
        default: return IP_DEST_UNREACHABLE;
        }
    case icmp6_header::kPacketTooBig: return IP_PACKET_TOO_BIG;
    case icmp6_header::kTimeExceeded: return code == 1 ? IP_TTL_EXPIRED_REASSEM : IP_HOP_LIMIT_EXCEEDED;
    case icmp6_header::kParameterProblem: return code == 1 ? IP_UNRECOGNIZED_NEXT_HEADER : IP_PARAM_PROBLEM;
    default: return IP_GENERAL_FAILURE;
    }
}

std::int32_t statusFromErrno(int error, Family family)
{
    // A prohibit route refuses an IPv6 send locally as the router's
    // "administratively prohibited" would; IPv4 has no status for it.
    if (error == EACCES && family == Family::V6)
        return IP_DEST_PROHIBITED;
    switch (error) {
    case ENETUNREACH: return IP_DEST_NET_UNREACHABLE;
    case EHOSTUNREACH: return IP_DEST_HOST_UNREACHABLE;
    case EMSGSIZE: return IP_PACKET_TOO_BIG;
    case ENOBUFS:
    case ENOMEM: return IP_NO_RESOURCES;
    default: return IP_GENERAL_FAILURE;
    }
}

std::optional<EchoKey> echoNamedByRawPacket(std::span<const std::uint8_t> packet)
{
    const auto message = rawMessage(packet);
    if (message.empty())
        return std::nullopt;
    if (message[kType] == kEchoReply)
        return EchoKey{big16(message, kIdentifier), big16(message, kSequence)};
    if (endsAnEcho(message[kType]))
        if (const auto quoted = quotedEcho(message.subspan(kLength)))
            return quoted->key;
    return std::nullopt;
}

Verdict classifyRawPacket(std::span<const std::uint8_t> packet, const EchoIdentity& echo)
{
    const auto message = rawMessage(packet);
    // A raw socket gets what the kernel has not checked: a message whose
    // checksum fails is noise, as the datagram socket never sees it.
    if (message.empty() || internetChecksum(message) != 0)
        return {};
    const std::uint8_t type = message[kType];
    Verdict verdict;
    verdict.from = Address::v4(address32(packet, ip_header::kSource));
    verdict.ttl = packet[ip_header::kTtl];
    // A raw socket sees every process's echoes: another process may well use
    // the same identifier and sequence, but not ask the same host, or the
    // reply would be for both alike.
    if (type == kEchoReply && big16(message, kIdentifier) == echo.identifier &&
        big16(message, kSequence) == echo.sequence && answersFor(verdict.from, echo.destination)) {
        verdict.kind = Verdict::Kind::Reply;
        verdict.data = message.subspan(kLength);
        return verdict;
    }
    if (endsAnEcho(type)) {
        const auto quoted = quotedEcho(message.subspan(kLength));
        if (quoted && quoted->destination == echo.destination && quoted->key.identifier == echo.identifier &&
            quoted->key.sequence == echo.sequence) {
            verdict.kind = Verdict::Kind::Error;
            verdict.status = statusFromIcmp(type, message[kCode]);
            return verdict;
        }
    }
    return {};
}

std::optional<EchoKey> echoNamedByRaw6(std::span<const std::uint8_t> message)
{
    if (message.size() < kLength)
        return std::nullopt;
    if (message[kType] == icmp6_header::kEchoReply)
        return EchoKey{big16(message, kIdentifier), big16(message, kSequence)};
    if (endsAnEcho6(message[kType]))
        if (const auto quoted = quotedEcho6(message.subspan(kLength)))
            return quoted->key;
    return std::nullopt;
}

Verdict classifyRaw6(std::span<const std::uint8_t> message, const Address& from, const EchoIdentity& echo)
{
    if (message.size() < kLength || !from.isV6())
        return {};
    const std::uint8_t type = message[kType];
    Verdict verdict;
    verdict.from = from;
    // As on IPv4, another process may share identifier and sequence, but
    // not the host asked.
    if (type == icmp6_header::kEchoReply && big16(message, kIdentifier) == echo.identifier &&
        big16(message, kSequence) == echo.sequence && answersFor(from, echo.destination)) {
        verdict.kind = Verdict::Kind::Reply;
        verdict.data = message.subspan(kLength);
        return verdict;
    }
    if (endsAnEcho6(type)) {
        const auto quoted = quotedEcho6(message.subspan(kLength));
        if (quoted && quoted->destination == echo.destination && quoted->key.identifier == echo.identifier &&
            quoted->key.sequence == echo.sequence) {
            verdict.kind = Verdict::Kind::Error;
            verdict.status = statusFromIcmp6(type, message[kCode]);
            return verdict;
        }
    }
    return {};
}

std::optional<EchoKey> echoNamedByDatagram(std::span<const std::uint8_t> message, Family family)
{
    const std::uint8_t reply = family == Family::V6 ? icmp6_header::kEchoReply : kEchoReply;
    if (message.size() < kLength || message[kType] != reply)
        return std::nullopt;
    return EchoKey{big16(message, kIdentifier), big16(message, kSequence)};
}

Verdict classifyDatagram(std::span<const std::uint8_t> message, const Address& from, const EchoIdentity& echo)
{
    // The kernel hands a ping socket every reply that carries its
    // identifier, whoever sent it.
    const std::uint8_t reply = echo.destination.isV6() ? icmp6_header::kEchoReply : kEchoReply;
    if (message.size() < kLength || message[kType] != reply || big16(message, kSequence) != echo.sequence ||
        !answersFor(from, echo.destination))
        return {};
    Verdict verdict;
    verdict.kind = Verdict::Kind::Reply;
    verdict.from = from;
    verdict.data = message.subspan(kLength);
    return verdict;
}

std::optional<EchoKey> echoNamedByQueuedError(const QueuedError& error)
{
    const bool icmp6 = error.origin == QueuedError::Origin::Icmp6;
    if ((error.origin != QueuedError::Origin::Icmp && !icmp6) || error.quoted.size() < kLength ||
        error.quoted[kType] != (icmp6 ? icmp6_header::kEchoRequest : kEchoRequest))
        return std::nullopt;
    return EchoKey{big16(error.quoted, kIdentifier), big16(error.quoted, kSequence)};
}

// A local error is the failure of the send that queued it, and that send
// reported it already; one still in the queue belongs to an earlier echo.
// Only an ICMP error names the echo it is about, by quoting it.
Verdict classifyQueuedError(const QueuedError& error, const EchoIdentity& echo)
{
    const auto key = echoNamedByQueuedError(error);
    const bool icmp6 = error.origin == QueuedError::Origin::Icmp6;
    if (!key || key->sequence != echo.sequence || !(icmp6 ? endsAnEcho6(error.type) : endsAnEcho(error.type)) ||
        error.destination != echo.destination)
        return {};
    Verdict verdict;
    verdict.kind = Verdict::Kind::Error;
    verdict.status = icmp6 ? statusFromIcmp6(error.type, error.code) : statusFromIcmp(error.type, error.code);
    verdict.from = error.offender;
    return verdict;
}

std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes)
{
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (bytes.size() % 2)
        sum += static_cast<std::uint32_t>(bytes.back() << 8);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint16_t>(~sum);
}

std::vector<std::uint8_t> buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                           std::span<const std::uint8_t> data, Family family)
{
    std::vector<std::uint8_t> packet;
    buildEchoRequest(packet, identifier, sequence, data, family);
    return packet;
}

void buildEchoRequest(std::vector<std::uint8_t>& packet, std::uint16_t identifier, std::uint16_t sequence,
                      std::span<const std::uint8_t> data, Family family)
{
    packet.assign(kLength + data.size(), 0);
    packet[kType] = family == Family::V6 ? icmp6_header::kEchoRequest : kEchoRequest;
    putBig16(packet, kIdentifier, identifier);
    putBig16(packet, kSequence, sequence);
    std::copy(data.begin(), data.end(), packet.begin() + kLength);
    if (family == Family::V4)
        putBig16(packet, kChecksum, internetChecksum(packet));
}

}  // namespace icmp
