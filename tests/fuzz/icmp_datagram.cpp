// The datagram socket's classifier over any bytes, in either family (see
// takeFamily). Input: the echo's identity (destination address as on the
// wire, identifier, sequence), the address the message came from, then the
// ICMP or ICMPv6 message as the socket received it.

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
    const Family family = takeFamily(input, size);
    const bool v6 = family == Family::V6;
    const std::size_t length = addressLength(family), headLength = 2 * length + 4;
    if (size < headLength)
        return 0;
    const Bytes head(input, headLength);
    const EchoIdentity echo = echoIdentity(head, 0, family);
    const Address from = addressOf(head, length + 4, family);
    const Bytes message(input + headLength, size - headLength);

    const Verdict verdict = classifyDatagram(message, from, echo);
    // Errors come through the error queue only.
    FUZZ_REQUIRE(verdict.kind != Verdict::Kind::Error);
    // The kernel matched the identifier: ours is a reply of the family (an
    // ICMPv4 reply is none on the ICMPv6 socket) with our sequence, and from
    // the host asked unless anyone may answer.
    const bool aReply = message.size() >= 8 && message[0] == (v6 ? 129 : 0);
    FUZZ_REQUIRE(echoNamedByDatagram(message, family).has_value() == aReply);
    const bool ourReply = aReply && big16(message, 6) == echo.sequence &&
                          (from == echo.destination || !isUnicast(echo.destination));
    FUZZ_REQUIRE((verdict.kind == Verdict::Kind::Reply) == ourReply);
    if (!ourReply)
        return 0;
    FUZZ_REQUIRE(verdict.status == icmp::IP_SUCCESS && verdict.from == from);
    FUZZ_REQUIRE(verdict.data.data() == message.data() + 8 && verdict.data.size() == message.size() - 8);

    // The raw socket, given the same reply under its identifier, judges alike.
    const EchoIdentity raw{echo.destination, big16(message, 4), echo.sequence};
    const Verdict judged = v6 ? classifyRaw6(message, from, raw) : classifyRawPacket(asRawPacket(message, from), raw);
    FUZZ_REQUIRE(judged.kind == Verdict::Kind::Reply);
    return 0;
}
