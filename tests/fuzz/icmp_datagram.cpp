// The datagram socket's two parsers over any bytes: the message received
// and the request handed back with a queued error. Input: the sequence
// (2 bytes, big-endian), then the ICMP message.

#include "platform/net/icmp_packet.h"
#include "platform/net/network.h"
#include "require.h"

using namespace platform::icmp;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    if (size < 2)
        return 0;
    const auto sequence = static_cast<std::uint16_t>(input[0] << 8 | input[1]);
    const std::span<const std::uint8_t> message(input + 2, size - 2);
    const bool whole = message.size() >= 8;
    const bool sameSequence = whole && (message[6] << 8 | message[7]) == sequence;

    const Verdict verdict = classifyDatagram(message, sequence);
    FUZZ_REQUIRE(verdict.kind != Verdict::Kind::Error);
    FUZZ_REQUIRE((verdict.kind == Verdict::Kind::Reply) == (sameSequence && message[0] == 0));
    if (verdict.kind == Verdict::Kind::Reply)
        FUZZ_REQUIRE(verdict.status == platform::IP_SUCCESS && verdict.data.data() == message.data() + 8 &&
                     verdict.data.size() == message.size() - 8);

    FUZZ_REQUIRE(isOurRequest(message, sequence) == (sameSequence && message[0] == 8));
    return 0;
}
