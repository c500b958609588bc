// The raw ICMPv6 socket's classifier over any bytes. Input: the echo's
// identity (destination: 16 bytes, identifier, sequence), the sender (16
// bytes), then the ICMPv6 message as the socket received it, without IP
// header; the kernel checked its checksum. Whatever the classifier takes
// must also pass the socket's filter, which the kernel runs first.

#include "icmp/echo_filter.h"
#include "icmp/packet.h"
#include "icmp/status.h"
#include "support/socket_filter.h"
#include "bytes.h"
#include "require.h"

using namespace icmp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    using namespace fuzz;
    if (size < 36)
        return 0;
    const Bytes head(input, 36);
    const EchoIdentity echo = echoIdentity6(head, 0);
    const Address from = address6(head, 20);
    const Bytes message(input + 36, size - 36);

    const Verdict verdict = classifyRaw6(message, from, echo);
    if (message.size() < 8) {
        FUZZ_REQUIRE(verdict.kind == Verdict::Kind::Ignore);
        return 0;
    }
    const std::uint8_t type = message[0];
    if (verdict.kind != Verdict::Kind::Ignore) {
        const auto key = echoNamedByRaw6(message);
        FUZZ_REQUIRE(key && key->identifier == echo.identifier && key->sequence == echo.sequence);
        const std::uint16_t identifier[] = {echo.identifier};
        FUZZ_REQUIRE(packets::filterPasses(echoFilter(identifier, Family::V6), message));
    }

    // A reply of ours from the host asked, or from anyone for a group.
    const bool ourReply = type == 129 && big16(message, 4) == echo.identifier && big16(message, 6) == echo.sequence &&
                          (from == echo.destination || !isUnicast6(echo.destination));
    FUZZ_REQUIRE((verdict.kind == Verdict::Kind::Reply) == ourReply);
    if (ourReply) {
        FUZZ_REQUIRE(verdict.status == IP_SUCCESS && verdict.from == from);
        FUZZ_REQUIRE(verdict.data.data() == message.data() + 8 && verdict.data.size() == message.size() - 8);
        // The datagram socket, given the same reply, judges alike.
        const Verdict datagram = classifyDatagram(message, from, echo);
        FUZZ_REQUIRE(datagram.kind == Verdict::Kind::Reply && datagram.data.data() == verdict.data.data());
        return 0;
    }
    const bool ourError = endsAnEcho6(type) && quotesOurRequest6(message.subspan(8), echo, true);
    FUZZ_REQUIRE((verdict.kind == Verdict::Kind::Error) == ourError);
    if (ourError) {
        FUZZ_REQUIRE(verdict.status == statusFromIcmp6(type, message[1]) && verdict.status != IP_SUCCESS &&
                     verdict.status != IP_GENERAL_FAILURE);
        FUZZ_REQUIRE(verdict.from == from && verdict.data.empty());
        // The datagram socket's error queue, given the same error, judges alike.
        QueuedError queued{QueuedError::Origin::Icmp6, type, message[1], 0, echo.destination, from,
                           message.subspan(8 + 40)};
        const Verdict datagram = classifyQueuedError(queued, echo);
        FUZZ_REQUIRE(datagram.kind == Verdict::Kind::Error && datagram.status == verdict.status);
    }
    return 0;
}
