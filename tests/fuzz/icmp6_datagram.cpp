// The ICMPv6 datagram socket's classifier over any bytes. Input: the
// echo's identity (destination: 16 bytes, identifier, sequence), the
// sender (16 bytes), then the ICMPv6 message as the socket received it.

#include "icmp/packet.h"
#include "icmp/status.h"
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

    const Verdict verdict = classifyDatagram(message, from, echo);
    // Errors come through the error queue only.
    FUZZ_REQUIRE(verdict.kind != Verdict::Kind::Error);
    // The kernel matched the identifier; an ICMPv4 reply (type 0) is none.
    const bool ourReply = message.size() >= 8 && message[0] == 129 && big16(message, 6) == echo.sequence &&
                          (from == echo.destination || !isUnicast6(echo.destination));
    FUZZ_REQUIRE((verdict.kind == Verdict::Kind::Reply) == ourReply);
    FUZZ_REQUIRE(echoNamedByDatagram(message, Family::V6).has_value() == (message.size() >= 8 && message[0] == 129));
    if (!ourReply)
        return 0;
    FUZZ_REQUIRE(verdict.status == IP_SUCCESS && verdict.from == from);
    FUZZ_REQUIRE(verdict.data.data() == message.data() + 8 && verdict.data.size() == message.size() - 8);
    // The raw socket, given the same reply under its identifier, judges alike.
    const EchoIdentity raw{echo.destination, big16(message, 4), echo.sequence};
    FUZZ_REQUIRE(classifyRaw6(message, from, raw).kind == Verdict::Kind::Reply);
    return 0;
}
