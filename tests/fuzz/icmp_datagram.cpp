// The datagram socket's classifier over any bytes. Input: the echo's
// identity (destination address as on the wire, identifier, sequence: 8
// bytes), the address the message came from (4 bytes, as on the wire),
// then the ICMP message as the socket received it.

#include "icmp/packet.h"
#include "icmp/status.h"
#include "bytes.h"
#include "require.h"

#include <vector>

using namespace icmp;

namespace {

using namespace fuzz;

// The message as a raw socket would get it from the same host: behind an
// IPv4 header, with the checksum the kernel checked for the datagram socket.
std::vector<std::uint8_t> asRawPacket(Bytes message, const Address& from)
{
    std::vector<std::uint8_t> packet;
    appendIpv4Header(packet, from.v4NetworkOrder(), 0);
    packet.insert(packet.end(), message.begin(), message.end());
    putChecksum(packet, 20);
    return packet;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    if (size < 12)
        return 0;
    const Bytes head(input, 12);
    const EchoIdentity echo = echoIdentity(head, 0);
    const Address from = Address::v4(address(head, 8));
    const Bytes message(input + 12, size - 12);

    const Verdict verdict = classifyDatagram(message, from, echo);
    // Errors come through the error queue only.
    FUZZ_REQUIRE(verdict.kind != Verdict::Kind::Error);
    // The kernel matched the identifier: ours is a reply with our sequence,
    // and from the host asked unless anyone may answer.
    const bool whole = message.size() >= 8;
    const bool ourReply = whole && message[0] == 0 && big16(message, 6) == echo.sequence &&
                          (from == echo.destination || !isUnicast(echo.destination));
    FUZZ_REQUIRE((verdict.kind == Verdict::Kind::Reply) == ourReply);
    if (verdict.kind != Verdict::Kind::Reply)
        return 0;
    FUZZ_REQUIRE(verdict.status == icmp::IP_SUCCESS && verdict.from == from);
    FUZZ_REQUIRE(verdict.data.data() == message.data() + 8 && verdict.data.size() == message.size() - 8);
    const auto key = echoNamedByDatagram(message);
    FUZZ_REQUIRE(key && key->sequence == echo.sequence);

    // The raw socket, given the same reply, judges alike.
    const std::vector<std::uint8_t> packet = asRawPacket(message, from);
    const EchoIdentity raw{echo.destination, big16(message, 4), echo.sequence};
    FUZZ_REQUIRE(classifyRawPacket(packet, raw).kind == Verdict::Kind::Reply);
    return 0;
}
