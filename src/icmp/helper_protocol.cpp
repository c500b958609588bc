#include "icmp/helper_protocol.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace icmp::helper {
namespace {

// Version 2 carries an address of either family; version 1 carried 4
// bytes of IPv4, and a request of it is refused by name.
constexpr std::array<std::uint8_t, 4> kRequestTag = {'Q', 'E', 'R', '2'};
constexpr std::array<std::uint8_t, 4> kRequestTagV1 = {'Q', 'E', 'R', '1'};
constexpr std::array<std::uint8_t, 4> kAnswerTag = {'Q', 'E', 'A', '2'};
constexpr std::array<std::uint8_t, 4> kFailureTag = {'Q', 'E', 'E', '1'};

std::uint32_t big32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

// An address as its family byte and 16 bytes (IPv4 in the first 4, the
// rest 0), kept in network byte order; none for any other bytes, so that
// a frame means one thing only.
std::optional<Address> address(std::span<const std::uint8_t> bytes, std::size_t at)
{
    const auto raw = bytes.subspan(at + 1, 16);
    if (bytes[at] == static_cast<std::uint8_t>(Family::V6))
        return Address::v6(raw.first<16>());
    if (bytes[at] != static_cast<std::uint8_t>(Family::V4) ||
        std::any_of(raw.begin() + 4, raw.end(), [](std::uint8_t byte) { return byte != 0; }))
        return std::nullopt;
    std::uint32_t v4;
    std::memcpy(&v4, raw.data(), sizeof v4);
    return Address::v4(v4);
}

void putBig32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.insert(out.end(), {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                           static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

void putAddress(std::vector<std::uint8_t>& out, const Address& address)
{
    out.push_back(static_cast<std::uint8_t>(address.family()));
    const auto bytes = address.bytes();
    out.insert(out.end(), bytes.begin(), bytes.end());
    out.insert(out.end(), 16 - bytes.size(), 0);
}

template <class Message>
void refuseAddress(Decoded<Message>& decoded, std::span<const std::uint8_t> body, std::size_t at)
{
    decoded.kind = Decoded<Message>::Kind::Malformed;
    decoded.size = 0;
    decoded.error = body[at] == 4 || body[at] == 6 ? "an IPv4 address with bytes past its four"
                                                   : "an address of family " + std::to_string(body[at]);
}

// The frame's header: its tag, and a body length within bounds. The whole
// header is judged before the body is waited for, so that garbage is
// refused at once instead of waiting for gigabytes that never come.
template <class Message>
bool frameBody(std::span<const std::uint8_t> bytes, const std::array<std::uint8_t, 4>& tag, std::size_t fixed,
               Decoded<Message>& decoded, std::span<const std::uint8_t>& body)
{
    const std::size_t seen = std::min(bytes.size(), tag.size());
    if (!std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(seen), tag.begin())) {
        decoded.kind = Decoded<Message>::Kind::Malformed;
        decoded.error = "not a frame of this protocol";
        return false;
    }
    if (bytes.size() < kFrameHeader)
        return false;
    const std::uint32_t length = big32(bytes, 4);
    if (length < fixed) {
        decoded.kind = Decoded<Message>::Kind::Malformed;
        decoded.error = "a frame of " + std::to_string(length) + " bytes is too short";
        return false;
    }
    if (length - fixed > kMaxPayload) {
        decoded.kind = Decoded<Message>::Kind::Malformed;
        decoded.error = "a payload of " + std::to_string(length - fixed) + " bytes is over the bound of " +
                        std::to_string(kMaxPayload);
        return false;
    }
    if (bytes.size() - kFrameHeader < length)
        return false;
    body = bytes.subspan(kFrameHeader, length);
    decoded.kind = Decoded<Message>::Kind::Complete;
    decoded.size = kFrameHeader + length;
    return true;
}

}  // namespace

Decoded<Request> decodeRequest(std::span<const std::uint8_t> bytes)
{
    Decoded<Request> decoded;
    if (bytes.size() >= kRequestTagV1.size() && std::equal(kRequestTagV1.begin(), kRequestTagV1.end(), bytes.begin())) {
        decoded.kind = Decoded<Request>::Kind::Malformed;
        decoded.error = "a request of the protocol's first version (IPv4 only); this helper takes version 2";
        return decoded;
    }
    std::span<const std::uint8_t> body;
    if (!frameBody(bytes, kRequestTag, kRequestFixed, decoded, body))
        return decoded;
    decoded.message.id = big32(body, 0);
    const auto destination = address(body, 4);
    if (!destination) {
        refuseAddress(decoded, body, 4);
        return decoded;
    }
    decoded.message.destination = *destination;
    decoded.message.timeoutMs = big32(body, 21);
    decoded.message.payload = body.subspan(kRequestFixed);
    return decoded;
}

Decoded<Settled> decodeAnswer(std::span<const std::uint8_t> bytes)
{
    Decoded<Settled> decoded;
    std::span<const std::uint8_t> body;
    if (!frameBody(bytes, kAnswerTag, kAnswerFixed, decoded, body))
        return decoded;
    decoded.message.ticket = big32(body, 0);
    decoded.message.status = static_cast<std::int32_t>(big32(body, 4));
    const auto from = address(body, 8);
    if (!from) {
        refuseAddress(decoded, body, 8);
        return decoded;
    }
    decoded.message.address = *from;
    decoded.message.roundTripMs = big32(body, 25);
    decoded.message.ttl = body[29];
    decoded.message.roundTripUsPastMs = static_cast<std::uint16_t>(body[30] << 8 | body[31]);
    const auto data = body.subspan(kAnswerFixed);
    decoded.message.data.assign(data.begin(), data.end());
    return decoded;
}

Decoded<std::string> decodeFailure(std::span<const std::uint8_t> bytes)
{
    Decoded<std::string> decoded;
    std::span<const std::uint8_t> body;
    if (!frameBody(bytes, kFailureTag, 0, decoded, body))
        return decoded;
    decoded.message.reserve(body.size());
    for (const std::uint8_t byte : body)
        decoded.message.push_back(byte < 0x20 || byte >= 0x7F ? '?' : static_cast<char>(byte));
    return decoded;
}

void encodeRequest(const Request& request, std::vector<std::uint8_t>& out)
{
    const auto payload = request.payload.first(std::min(request.payload.size(), kMaxPayload));
    out.insert(out.end(), kRequestTag.begin(), kRequestTag.end());
    putBig32(out, static_cast<std::uint32_t>(kRequestFixed + payload.size()));
    putBig32(out, request.id);
    putAddress(out, request.destination);
    putBig32(out, request.timeoutMs);
    out.insert(out.end(), payload.begin(), payload.end());
}

void encodeAnswer(const Settled& answer, std::vector<std::uint8_t>& out)
{
    const auto data = std::span(answer.data).first(std::min(answer.data.size(), kMaxPayload));
    out.insert(out.end(), kAnswerTag.begin(), kAnswerTag.end());
    putBig32(out, static_cast<std::uint32_t>(kAnswerFixed + data.size()));
    putBig32(out, static_cast<std::uint32_t>(answer.ticket));
    putBig32(out, static_cast<std::uint32_t>(answer.status));
    putAddress(out, answer.address);
    putBig32(out, answer.roundTripMs);
    out.push_back(answer.ttl);
    out.push_back(static_cast<std::uint8_t>(answer.roundTripUsPastMs >> 8));
    out.push_back(static_cast<std::uint8_t>(answer.roundTripUsPastMs));
    out.insert(out.end(), data.begin(), data.end());
}

void encodeFailure(const std::string& why, std::vector<std::uint8_t>& out)
{
    const std::size_t length = std::min(why.size(), kMaxPayload);
    out.insert(out.end(), kFailureTag.begin(), kFailureTag.end());
    putBig32(out, static_cast<std::uint32_t>(length));
    out.insert(out.end(), why.begin(), why.begin() + static_cast<std::ptrdiff_t>(length));
}

}  // namespace icmp::helper
