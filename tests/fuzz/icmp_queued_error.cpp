// The judgement of an entry of the datagram socket's error queue over any
// entry. Input: origin (0 local, 1 ICMP, else other), ICMP type and code,
// errno value (1 byte each); the failed echo's destination and the
// reporter's address (4 bytes each, as on the wire); the echo's identity
// (destination, identifier, sequence: 8 bytes); then the quoted request.

#include "icmp/packet.h"
#include "icmp/status.h"
#include "bytes.h"
#include "require.h"

#include <vector>

using namespace icmp;

namespace {

using namespace fuzz;

// The same ICMP error as a raw socket gets it: the reporter's IPv4 header,
// the error, and the request it quotes behind the request's IPv4 header.
std::vector<std::uint8_t> asRawPacket(const QueuedError& error)
{
    std::vector<std::uint8_t> packet;
    appendIpv4Header(packet, error.offender.v4NetworkOrder(), 0);
    packet.insert(packet.end(), {error.type, error.code, 0, 0, 0, 0, 0, 0});
    appendIpv4Header(packet, 0, error.destination.v4NetworkOrder());
    packet.insert(packet.end(), error.quoted.begin(), error.quoted.end());
    putChecksum(packet, 20);
    return packet;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    if (size < 20)
        return 0;
    const Bytes head(input, 20);
    QueuedError error;
    error.origin = head[0] == 0   ? QueuedError::Origin::Local
                   : head[0] == 1 ? QueuedError::Origin::Icmp
                                  : QueuedError::Origin::Other;
    error.type = head[1];
    error.code = head[2];
    error.error = head[3];
    error.destination = Address::v4(address(head, 4));
    error.offender = Address::v4(address(head, 8));
    const EchoIdentity echo = echoIdentity(head, 12);
    error.quoted = Bytes(input + 20, size - 20);

    const Verdict verdict = classifyQueuedError(error, echo);
    const auto named = echoNamedByQueuedError(error);
    // A local error (or one of no known origin) names no echo: the send that
    // met it has reported it already, and it never settles another echo.
    if (error.origin != QueuedError::Origin::Icmp)
        FUZZ_REQUIRE(!named && verdict.kind == Verdict::Kind::Ignore);

    // Only the errors that end an echo, never a redirect, and only about a
    // request of ours to our destination; the kernel matched the identifier.
    const Bytes quoted = error.quoted;
    const bool endsAnEcho = error.type == 3 || error.type == 4 || error.type == 11 || error.type == 12;
    const bool quotesOurs = quoted.size() >= 8 && quoted[0] == 8 && big16(quoted, 6) == echo.sequence &&
                            error.destination == echo.destination;
    FUZZ_REQUIRE(verdict.kind != Verdict::Kind::Reply);
    FUZZ_REQUIRE((verdict.kind == Verdict::Kind::Error) ==
                 (error.origin == QueuedError::Origin::Icmp && endsAnEcho && quotesOurs));
    if (verdict.kind == Verdict::Kind::Error) {
        FUZZ_REQUIRE(named && named->sequence == echo.sequence);
        FUZZ_REQUIRE(verdict.status == statusFromIcmp(error.type, error.code) && verdict.status != icmp::IP_SUCCESS);
        FUZZ_REQUIRE(verdict.from == error.offender && verdict.data.empty());
    }

    // The raw socket, given the same error about the same request, judges alike.
    if (error.origin == QueuedError::Origin::Icmp && error.type != 0 && quoted.size() >= 8) {
        const EchoIdentity raw{echo.destination, big16(quoted, 4), echo.sequence};
        const Verdict judged = classifyRawPacket(asRawPacket(error), raw);
        FUZZ_REQUIRE(judged.kind == verdict.kind && judged.status == verdict.status);
    }
    return 0;
}
