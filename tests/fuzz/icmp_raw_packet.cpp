// The raw socket's classifier over any bytes, in either family (see
// takeFamily). Input: the echo's identity (destination address as on the
// wire, identifier, sequence), then the IPv4 packet as the socket received
// it, or for IPv6 the sender's address and the ICMPv6 message without IP
// header (the kernel checked its checksum). Each IPv4 packet is judged as it
// came and once more with its ICMP checksum set right, or random bytes
// would hardly ever get past the checksum to the rules behind it. Whatever
// the classifier takes as an answer must also pass the socket's filter,
// which the kernel runs before the classifier sees anything.

#include "icmp/echo_filter.h"
#include "icmp/packet.h"
#include "icmp/status.h"
#include "support/socket_filter.h"
#include "bytes.h"
#include "require.h"

#include <cstring>
#include <vector>

using namespace icmp;

namespace {

using namespace fuzz;

// A whole IP header carrying ICMP (ICMPv6 behind the fixed IPv6 header),
// followed by at least an ICMP header: its length, else 0.
std::size_t icmpOffset(Bytes packet, Family family = Family::V4)
{
    if (family == Family::V6)
        return packet.size() >= 48 && packet[0] >> 4 == 6 && packet[6] == 58 ? 40 : 0;
    if (packet.size() < 20 || packet[0] >> 4 != 4 || packet[9] != 1)
        return 0;
    const std::size_t length = (packet[0] & 0x0Fu) * 4;
    return length >= 20 && length + 8 <= packet.size() ? length : 0;
}

bool names(const std::optional<EchoKey>& key, const EchoIdentity& echo)
{
    return key && key->identifier == echo.identifier && key->sequence == echo.sequence;
}

// For IPv6, `packet` is the message and `from` its sender.
void check(Bytes packet, const EchoIdentity& echo, Family family, const Address& from6 = {})
{
    const bool v6 = family == Family::V6;
    const Verdict verdict = v6 ? classifyRaw6(packet, from6, echo) : classifyRawPacket(packet, echo);
    const std::size_t offset = v6 ? 0 : icmpOffset(packet);
    if (v6 ? packet.size() < 8 : offset == 0) {
        FUZZ_REQUIRE(verdict.kind == Verdict::Kind::Ignore);
        return;
    }
    const Bytes message = packet.subspan(offset);
    // The kernel checks no ICMP checksum for a raw socket, so a damaged
    // message must not settle an echo on either kind.
    if (!v6 && internetChecksum(message) != 0) {
        FUZZ_REQUIRE(verdict.kind == Verdict::Kind::Ignore);
        return;
    }
    // Whatever settles an echo must name it, or the socket never finds the
    // echo to judge it against.
    if (verdict.kind != Verdict::Kind::Ignore) {
        FUZZ_REQUIRE(names(v6 ? echoNamedByRaw6(packet) : echoNamedByRawPacket(packet), echo));
        const std::uint16_t identifier[] = {echo.identifier};
        FUZZ_REQUIRE(packets::filterPasses(echoFilter(identifier, family), packet));
    }

    const std::uint8_t type = message[0];
    const Address from = v6 ? from6 : addressOf(packet, 12);
    const bool ours = big16(message, 4) == echo.identifier && big16(message, 6) == echo.sequence;
    // Anyone may answer a broadcast or multicast; a unicast echo only its host.
    const bool ourReply = type == (v6 ? 129 : 0) && ours && (from == echo.destination || !isUnicast(echo.destination));

    FUZZ_REQUIRE((verdict.kind == Verdict::Kind::Reply) == ourReply);
    if (verdict.kind == Verdict::Kind::Reply) {
        FUZZ_REQUIRE(verdict.status == icmp::IP_SUCCESS && verdict.from == from && (v6 || verdict.ttl == packet[8]));
        FUZZ_REQUIRE(verdict.data.data() == message.data() + 8 && verdict.data.size() == message.size() - 8);
        // The datagram socket, given the same message from the same host, judges alike.
        const Verdict datagram = classifyDatagram(message, from, echo);
        FUZZ_REQUIRE(datagram.kind == Verdict::Kind::Reply && datagram.from == from &&
                     datagram.data.data() == verdict.data.data() && datagram.data.size() == verdict.data.size());
        return;
    }

    // An error counts only when it ends an echo and quotes our request: an
    // IP header to our destination, then our echo.
    const Bytes quoted = message.subspan(8);
    const std::size_t quotedOffset = icmpOffset(quoted, family);
    const bool quotesOurs = quotedOffset != 0 && addressOf(quoted, v6 ? 24 : 16, family) == echo.destination &&
                            quoted[quotedOffset] == (v6 ? 128 : 8) &&
                            big16(quoted, quotedOffset + 4) == echo.identifier &&
                            big16(quoted, quotedOffset + 6) == echo.sequence;
    FUZZ_REQUIRE((verdict.kind == Verdict::Kind::Error) == (endsAnEcho(type, family) && quotesOurs));
    if (verdict.kind == Verdict::Kind::Error) {
        FUZZ_REQUIRE(verdict.status == (v6 ? statusFromIcmp6 : statusFromIcmp)(type, message[1]) &&
                     verdict.status != icmp::IP_SUCCESS && (!v6 || verdict.status != icmp::IP_GENERAL_FAILURE));
        FUZZ_REQUIRE(verdict.from == from && verdict.data.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    const Family family = takeFamily(input, size);
    if (family == Family::V6) {
        if (size < 36)
            return 0;
        const Bytes head(input, 36);
        check(Bytes(input + 36, size - 36), echoIdentity(head, 0, family), family, addressOf(head, 20, family));
        return 0;
    }
    if (size < 8)
        return 0;
    const Bytes identity(input, 8);
    const EchoIdentity echo = echoIdentity(identity, 0);
    const Bytes packet(input + 8, size - 8);
    check(packet, echo, family);

    const std::size_t offset = icmpOffset(packet);
    if (offset == 0 || internetChecksum(packet.subspan(offset)) == 0)
        return 0;
    std::vector<std::uint8_t> repaired(packet.begin(), packet.end());
    putChecksum(repaired, offset);
    check(repaired, echo, family);
    return 0;
}
