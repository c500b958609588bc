// The judgement of an entry of the ICMPv6 datagram socket's error queue.
// Input: origin (0 local, 1 ICMPv6, 2 ICMP, else other), type and code,
// errno value (1 byte each); the failed echo's destination and the
// reporter (16 bytes each); the echo's identity (destination: 16 bytes,
// identifier, sequence); then the quoted request.

#include "icmp/packet.h"
#include "icmp/status.h"
#include "bytes.h"
#include "require.h"

#include <vector>

using namespace icmp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    using namespace fuzz;
    constexpr std::size_t kHead = 4 + 16 + 16 + 20;
    if (size < kHead)
        return 0;
    const Bytes head(input, kHead);
    using Origin = QueuedError::Origin;
    QueuedError error;
    error.origin = head[0] == 0   ? Origin::Local
                   : head[0] == 1 ? Origin::Icmp6
                   : head[0] == 2 ? Origin::Icmp
                                  : Origin::Other;
    error.type = head[1];
    error.code = head[2];
    error.error = head[3];
    error.destination = address6(head, 4);
    error.offender = address6(head, 20);
    const EchoIdentity echo = echoIdentity6(head, 36);
    error.quoted = Bytes(input + kHead, size - kHead);

    const Verdict verdict = classifyQueuedError(error, echo);
    const auto named = echoNamedByQueuedError(error);
    // Only an ICMPv6 error about an ICMPv6 request of ours, to our
    // destination, that ends an echo; an ICMP one never meets an IPv6 echo
    // (it would quote an ICMP request, type 8).
    const Bytes quoted = error.quoted;
    const bool quotesOurs = quoted.size() >= 8 && quoted[0] == 128 && big16(quoted, 6) == echo.sequence &&
                            error.destination == echo.destination;
    const bool ours = error.origin == Origin::Icmp6 && endsAnEcho6(error.type) && quotesOurs;
    FUZZ_REQUIRE(verdict.kind != Verdict::Kind::Reply);
    if (error.origin != Origin::Icmp)
        FUZZ_REQUIRE((verdict.kind == Verdict::Kind::Error) == ours);
    if (error.origin == Origin::Local || error.origin == Origin::Other)
        FUZZ_REQUIRE(!named);
    if (verdict.kind == Verdict::Kind::Error && error.origin == Origin::Icmp6) {
        FUZZ_REQUIRE(named && named->sequence == echo.sequence);
        FUZZ_REQUIRE(verdict.status == statusFromIcmp6(error.type, error.code) && verdict.status != IP_SUCCESS &&
                     verdict.status != IP_GENERAL_FAILURE);
        FUZZ_REQUIRE(verdict.from == error.offender && verdict.data.empty());
    }

    // The raw socket, given the same error quoting the same request behind
    // an IPv6 header, judges alike (an echo reply in its place would be
    // judged as a reply).
    if (error.origin == Origin::Icmp6 && error.type != 129 && quoted.size() >= 8) {
        std::vector<std::uint8_t> message{error.type, error.code, 0, 0, 0, 0, 0, 0};
        const auto header = packets::ipv6Header(echo.destination, error.destination);
        message.insert(message.end(), header.begin(), header.end());
        message.insert(message.end(), quoted.begin(), quoted.end());
        const EchoIdentity raw{echo.destination, big16(quoted, 4), echo.sequence};
        const Verdict judged = classifyRaw6(message, error.offender, raw);
        FUZZ_REQUIRE(judged.kind == verdict.kind && judged.status == verdict.status);
    }
    return 0;
}
