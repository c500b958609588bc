#include "icmp/helper_protocol.h"

#include <algorithm>
#include <cstring>

namespace icmp::helper {
namespace {

constexpr std::array<std::uint8_t, 4> kRequestTag = {'Q', 'E', 'R', '1'};
constexpr std::array<std::uint8_t, 4> kAnswerTag = {'Q', 'E', 'A', '1'};
constexpr std::array<std::uint8_t, 4> kFailureTag = {'Q', 'E', 'E', '1'};

std::uint32_t big32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

// Addresses keep their byte order: they are bytes on the wire already.
std::uint32_t raw32(std::span<const std::uint8_t> bytes, std::size_t at)
{
    std::uint32_t value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

void putBig32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    out.insert(out.end(), {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                           static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)});
}

void putRaw32(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    std::uint8_t bytes[4];
    std::memcpy(bytes, &value, sizeof bytes);
    out.insert(out.end(), bytes, bytes + 4);
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
    std::span<const std::uint8_t> body;
    if (!frameBody(bytes, kRequestTag, kRequestFixed, decoded, body))
        return decoded;
    decoded.message.id = big32(body, 0);
    decoded.message.destination = raw32(body, 4);
    decoded.message.timeoutMs = big32(body, 8);
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
    decoded.message.address = Address::v4(raw32(body, 8));
    decoded.message.roundTripMs = big32(body, 12);
    decoded.message.ttl = body[16];
    decoded.message.roundTripUsPastMs = static_cast<std::uint16_t>(body[17] << 8 | body[18]);
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
    putRaw32(out, request.destination);
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
    putRaw32(out, answer.address.v4NetworkOrder());
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
