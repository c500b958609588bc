// The echo helper's request decoder over any bytes, as they come from the
// program over the helper's socket. The decoder runs in the process that
// holds the right to send raw packets: it must take only a frame within the
// bounds, never reach past the bytes it was given, and never wait for more
// bytes when the header already shows that no request can follow.
//
// The same bytes go through the program's decoder of the helper's failure
// frame, whose text ends up on a terminal or in a message box: it too stays
// within the bytes, and its text holds no byte a terminal would act on; and
// through its decoder of answers, which must read every byte of a frame it
// takes, as the request decoder must. A destination of either family is
// one frame only: family 4 with its last twelve bytes 0, or family 6.

#include "icmp/helper_protocol.h"
#include "require.h"

#include <algorithm>
#include <vector>

using namespace icmp::helper;

namespace {

using Bytes = std::span<const std::uint8_t>;
using Kind = Decoded<Request>::Kind;

std::uint32_t big32(Bytes bytes, std::size_t at)
{
    return static_cast<std::uint32_t>(bytes[at]) << 24 | static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

// The request's tag, as the encoder writes it.
std::vector<std::uint8_t> requestTag()
{
    std::vector<std::uint8_t> frame;
    encodeRequest(Request{}, frame);
    frame.resize(4);
    return frame;
}

// What the frame format gives for these bytes: a tag that is not the
// request's, or a declared length outside the bounds, is refused at once;
// a header or body not yet whole waits for more.
Kind expectedKind(Bytes bytes)
{
    static const std::vector<std::uint8_t> tag = requestTag();
    const std::size_t seen = std::min(bytes.size(), tag.size());
    if (!std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(seen), tag.begin()))
        return Kind::Malformed;
    if (bytes.size() < kFrameHeader)
        return Kind::Incomplete;
    const std::uint64_t length = big32(bytes, 4);
    if (length < kRequestFixed || length - kRequestFixed > kMaxPayload)
        return Kind::Malformed;
    if (bytes.size() - kFrameHeader < length)
        return Kind::Incomplete;
    const std::uint8_t family = bytes[kFrameHeader + 4];
    const Bytes past = bytes.subspan(kFrameHeader + 4 + 1 + 4, 12);
    if (family == 6 || (family == 4 && std::all_of(past.begin(), past.end(), [](std::uint8_t b) { return b == 0; })))
        return Kind::Complete;
    return Kind::Malformed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    const Bytes bytes(input, size);
    const Decoded<Request> decoded = decodeRequest(bytes);
    FUZZ_REQUIRE(decoded.kind == expectedKind(bytes));
    FUZZ_REQUIRE(decoded.size <= bytes.size());
    FUZZ_REQUIRE((decoded.kind == Kind::Malformed) == !decoded.error.empty());

    const Decoded<std::string> failure = decodeFailure(bytes);
    FUZZ_REQUIRE(failure.size <= bytes.size());
    if (failure.kind == Decoded<std::string>::Kind::Complete)
        FUZZ_REQUIRE(
            failure.size == kFrameHeader + failure.message.size() && failure.message.size() == big32(bytes, 4) &&
            std::all_of(failure.message.begin(), failure.message.end(), [](char c) { return c >= 0x20 && c < 0x7F; }));

    const Decoded<icmp::Settled> answer = decodeAnswer(bytes);
    FUZZ_REQUIRE(answer.size <= bytes.size());
    FUZZ_REQUIRE((answer.kind == Decoded<icmp::Settled>::Kind::Malformed) == !answer.error.empty());
    if (answer.kind == Decoded<icmp::Settled>::Kind::Complete) {
        FUZZ_REQUIRE(answer.size == kFrameHeader + big32(bytes, 4));
        std::vector<std::uint8_t> again;
        encodeAnswer(answer.message, again);
        FUZZ_REQUIRE(again.size() == answer.size && std::equal(again.begin(), again.end(), bytes.begin()));
    }

    if (decoded.kind != Kind::Complete)
        return 0;

    FUZZ_REQUIRE(decoded.size == kFrameHeader + big32(bytes, 4));
    const Bytes payload = decoded.message.payload;
    FUZZ_REQUIRE(payload.size() <= kMaxPayload && payload.size() == decoded.size - kFrameHeader - kRequestFixed);
    FUZZ_REQUIRE(payload.data() == bytes.data() + kFrameHeader + kRequestFixed);
    // Every part of the frame is read: encoded again, it is the same bytes.
    std::vector<std::uint8_t> again;
    encodeRequest(decoded.message, again);
    FUZZ_REQUIRE(std::equal(again.begin(), again.end(), bytes.begin(), bytes.begin() + decoded.size) &&
                 again.size() == decoded.size);
    // One byte short of its end, the same frame waits for the rest.
    FUZZ_REQUIRE(decodeRequest(bytes.first(decoded.size - 1)).kind == Kind::Incomplete);
    return 0;
}
