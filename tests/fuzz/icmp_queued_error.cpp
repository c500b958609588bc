// The judgement of an entry of the datagram socket's error queue over any
// entry, in either family (see takeFamily). Input: origin (0 local, 1 the
// family's ICMP, else other), type and code, errno value (1 byte each); the
// failed echo's destination and the reporter's address (as on the wire); the
// echo's identity (destination, identifier, sequence); then the quoted request.

#include "icmp/packet.h"
#include "icmp/status.h"
#include "bytes.h"
#include "require.h"

#include <vector>

using namespace icmp;

namespace {

using namespace fuzz;

// The same error as a raw socket gets it: an ICMP one behind the reporter's
// IPv4 header, an ICMPv6 one without; either quotes the request behind the
// request's IP header.
std::vector<std::uint8_t> asRawPacket(const QueuedError& error)
{
    const bool v6 = error.origin == QueuedError::Origin::Icmp6;
    std::vector<std::uint8_t> packet;
    if (!v6)
        appendIpv4Header(packet, error.offender.v4NetworkOrder(), 0);
    packet.insert(packet.end(), {error.type, error.code, 0, 0, 0, 0, 0, 0});
    const auto header = v6 ? packets::ipv6Header(error.offender, error.destination)
                           : packets::ipv4Header(64, 0, error.destination.v4NetworkOrder());
    packet.insert(packet.end(), header.begin(), header.end());
    packet.insert(packet.end(), error.quoted.begin(), error.quoted.end());
    if (!v6)
        putChecksum(packet, 20);
    return packet;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    const Family family = takeFamily(input, size);
    const bool v6 = family == Family::V6;
    const std::size_t length = addressLength(family), headLength = 3 * length + 8;
    if (size < headLength)
        return 0;
    const Bytes head(input, headLength);
    using Origin = QueuedError::Origin;
    const Origin own = v6 ? Origin::Icmp6 : Origin::Icmp;
    QueuedError error;
    error.origin = head[0] == 0 ? Origin::Local : head[0] == 1 ? own : Origin::Other;
    error.type = head[1];
    error.code = head[2];
    error.error = head[3];
    error.destination = addressOf(head, 4, family);
    error.offender = addressOf(head, 4 + length, family);
    const EchoIdentity echo = echoIdentity(head, 4 + 2 * length, family);
    error.quoted = Bytes(input + headLength, size - headLength);

    const Verdict verdict = classifyQueuedError(error, echo);
    const auto named = echoNamedByQueuedError(error);
    // A local error (or one of no known origin) names no echo: the send that
    // met it has reported it already, and it never settles another echo.
    if (error.origin != own)
        FUZZ_REQUIRE(!named && verdict.kind == Verdict::Kind::Ignore);

    // Only the family's errors that end an echo, never a redirect, and only
    // about a request of ours to our destination; the kernel matched the
    // identifier.
    const Bytes quoted = error.quoted;
    const bool quotesOurs = quoted.size() >= 8 && quoted[0] == (v6 ? 128 : 8) && big16(quoted, 6) == echo.sequence &&
                            error.destination == echo.destination;
    const bool ours = error.origin == own && endsAnEcho(error.type, family) && quotesOurs;
    FUZZ_REQUIRE(verdict.kind != Verdict::Kind::Reply);
    FUZZ_REQUIRE((verdict.kind == Verdict::Kind::Error) == ours);
    if (ours) {
        FUZZ_REQUIRE(named && named->sequence == echo.sequence);
        FUZZ_REQUIRE(verdict.status == (v6 ? statusFromIcmp6 : statusFromIcmp)(error.type, error.code) &&
                     verdict.status != icmp::IP_SUCCESS && (!v6 || verdict.status != icmp::IP_GENERAL_FAILURE));
        FUZZ_REQUIRE(verdict.from == error.offender && verdict.data.empty());
    }

    // The raw socket, given the same error about the same request, judges
    // alike (an echo reply in its place would be judged as a reply).
    if (error.origin == own && error.type != (v6 ? 129 : 0) && quoted.size() >= 8) {
        const EchoIdentity raw{echo.destination, big16(quoted, 4), echo.sequence};
        const auto packet = asRawPacket(error);
        const Verdict judged = v6 ? classifyRaw6(packet, error.offender, raw) : classifyRawPacket(packet, raw);
        FUZZ_REQUIRE(judged.kind == verdict.kind && judged.status == verdict.status);
    }
    return 0;
}
