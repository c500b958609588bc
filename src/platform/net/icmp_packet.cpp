#include "platform/net/icmp_packet.h"

#include "platform/net/network.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace platform::icmp {
namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParameterProblem = 12;
constexpr std::uint8_t kProtocolIcmp = 1;
constexpr std::size_t kIcmpHeader = 8;
constexpr std::size_t kMinIpHeader = 20;

std::uint16_t big16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
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
    if (bytes.size() < kMinIpHeader || (bytes[0] >> 4) != 4)
        return 0;
    const std::size_t length = (bytes[0] & 0x0F) * 4u;
    return length >= kMinIpHeader && length <= bytes.size() ? length : 0;
}

// Multicast and the limited broadcast may be answered by any host; every
// other destination answers for itself.
bool isUnicast(std::uint32_t destination)
{
    std::uint8_t first;  // of the address in network byte order
    std::memcpy(&first, &destination, 1);
    return destination != 0xFFFFFFFFu && !(first >= 224 && first <= 239);
}

// The errors that end an echo, on both kinds of socket alike. A redirect
// only tells the sender of a better first hop: the echo goes on and may
// still be answered.
bool endsAnEcho(std::uint8_t type)
{
    return type == kDestUnreachable || type == kSourceQuench || type == kTimeExceeded || type == kParameterProblem;
}

struct QuotedEcho {
    std::uint32_t destination;
    EchoKey key;
};

// The original datagram quoted by an ICMP error, when it is an ICMP echo
// request: its IP header and at least the 8 bytes of the request's header.
std::optional<QuotedEcho> quotedEcho(std::span<const std::uint8_t> quoted)
{
    const std::size_t header = ipHeaderLength(quoted);
    if (header == 0 || quoted.size() < header + kIcmpHeader || quoted[9] != kProtocolIcmp || quoted[header] != kEchoRequest)
        return std::nullopt;
    return QuotedEcho{address32(quoted, 16), {big16(quoted, header + 4), big16(quoted, header + 6)}};
}

// The ICMP message of an IPv4 packet (the kernel has cut it to its total
// length); empty when it is not a whole ICMP packet.
std::span<const std::uint8_t> rawMessage(std::span<const std::uint8_t> packet)
{
    const std::size_t header = ipHeaderLength(packet);
    if (header == 0 || packet[9] != kProtocolIcmp || packet.size() < header + kIcmpHeader)
        return {};
    return packet.subspan(header);
}

bool answersFor(std::uint32_t from, std::uint32_t destination)
{
    return from == destination || !isUnicast(destination);
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

std::int32_t statusFromErrno(int error)
{
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
    if (message[0] == kEchoReply)
        return EchoKey{big16(message, 4), big16(message, 6)};
    if (endsAnEcho(message[0]))
        if (const auto quoted = quotedEcho(message.subspan(kIcmpHeader)))
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
    const std::uint8_t type = message[0];
    Verdict verdict;
    verdict.from = address32(packet, 12);
    verdict.ttl = packet[8];
    // A raw socket sees every process's echoes: another process may well use
    // the same identifier and sequence, but not ask the same host, or the
    // reply would be for both alike.
    if (type == kEchoReply && big16(message, 4) == echo.identifier && big16(message, 6) == echo.sequence &&
        answersFor(verdict.from, echo.destination)) {
        verdict.kind = Verdict::Kind::Reply;
        verdict.data = message.subspan(kIcmpHeader);
        return verdict;
    }
    if (endsAnEcho(type)) {
        const auto quoted = quotedEcho(message.subspan(kIcmpHeader));
        if (quoted && quoted->destination == echo.destination && quoted->key.identifier == echo.identifier &&
            quoted->key.sequence == echo.sequence) {
            verdict.kind = Verdict::Kind::Error;
            verdict.status = statusFromIcmp(type, message[1]);
            return verdict;
        }
    }
    return {};
}

std::optional<EchoKey> echoNamedByDatagram(std::span<const std::uint8_t> message)
{
    if (message.size() < kIcmpHeader || message[0] != kEchoReply)
        return std::nullopt;
    return EchoKey{big16(message, 4), big16(message, 6)};
}

Verdict classifyDatagram(std::span<const std::uint8_t> message, std::uint32_t from, const EchoIdentity& echo)
{
    // The kernel hands a ping socket every reply that carries its
    // identifier, whoever sent it.
    if (message.size() < kIcmpHeader || message[0] != kEchoReply || big16(message, 6) != echo.sequence ||
        !answersFor(from, echo.destination))
        return {};
    Verdict verdict;
    verdict.kind = Verdict::Kind::Reply;
    verdict.from = from;
    verdict.data = message.subspan(kIcmpHeader);
    return verdict;
}

std::optional<EchoKey> echoNamedByQueuedError(const QueuedError& error)
{
    if (error.origin != QueuedError::Origin::Icmp || error.quoted.size() < kIcmpHeader || error.quoted[0] != kEchoRequest)
        return std::nullopt;
    return EchoKey{big16(error.quoted, 4), big16(error.quoted, 6)};
}

// A local error is the failure of the send that queued it, and that send
// reported it already; one still in the queue belongs to an earlier echo.
// Only an ICMP error names the echo it is about, by quoting it.
Verdict classifyQueuedError(const QueuedError& error, const EchoIdentity& echo)
{
    const auto key = echoNamedByQueuedError(error);
    if (!key || key->sequence != echo.sequence || !endsAnEcho(error.type) || error.destination != echo.destination)
        return {};
    Verdict verdict;
    verdict.kind = Verdict::Kind::Error;
    verdict.status = statusFromIcmp(error.type, error.code);
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
                                           std::span<const std::uint8_t> data)
{
    std::vector<std::uint8_t> packet(kIcmpHeader + data.size());
    packet[0] = kEchoRequest;
    packet[4] = static_cast<std::uint8_t>(identifier >> 8);
    packet[5] = static_cast<std::uint8_t>(identifier);
    packet[6] = static_cast<std::uint8_t>(sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(sequence);
    std::copy(data.begin(), data.end(), packet.begin() + kIcmpHeader);
    const std::uint16_t checksum = internetChecksum(packet);
    packet[2] = static_cast<std::uint8_t>(checksum >> 8);
    packet[3] = static_cast<std::uint8_t>(checksum);
    return packet;
}

std::uint32_t writeReply(void* buffer, std::uint32_t size, const Outcome& outcome)
{
    if (buffer == nullptr || size < offsetof(ICMP_ECHO_REPLY, Status) + sizeof(ICMP_ECHO_REPLY::Status))
        return 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (size < sizeof(ICMP_ECHO_REPLY)) {
        const std::uint32_t status = IP_BUF_TOO_SMALL;
        std::memcpy(bytes + offsetof(ICMP_ECHO_REPLY, Status), &status, sizeof status);
        return 0;
    }
    ICMP_ECHO_REPLY reply{};
    reply.Address = outcome.address;
    reply.Status = static_cast<std::uint32_t>(outcome.status);
    reply.RoundTripTime = outcome.roundTripMs;
    reply.Data = sizeof(ICMP_ECHO_REPLY);
    reply.Options.Ttl = outcome.ttl;
    const bool answered = outcome.status == IP_SUCCESS;
    if (answered && outcome.data.size() > size - sizeof(ICMP_ECHO_REPLY)) {
        reply.Status = IP_BUF_TOO_SMALL;
    } else if (answered) {
        reply.DataSize = static_cast<std::uint16_t>(outcome.data.size());
        std::copy(outcome.data.begin(), outcome.data.end(), bytes + sizeof(ICMP_ECHO_REPLY));
    }
    std::memcpy(bytes, &reply, sizeof reply);
    return reply.Status == IP_SUCCESS ? 1 : 0;
}

}  // namespace platform::icmp
