#include "icmp/helper_protocol.h"

#include <gtest/gtest.h>

#include <string>

namespace icmp::helper {
namespace {

std::vector<std::uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

const Address kHost = Address::v4(0x0100007F);

std::vector<std::uint8_t> request(std::uint32_t id, const std::string& payload, const Address& destination = kHost)
{
    std::vector<std::uint8_t> out;
    const auto data = bytes(payload);
    encodeRequest({id, destination, 500, data}, out);
    return out;
}

using Kind = Decoded<Request>::Kind;

TEST(EchoHelperProtocol, TheRequestDecoderTakesOnlyWholeFramesWithinBounds)
{
    const auto good = request(7, "ECHO THIS");
    const struct {
        const char* what;
        std::vector<std::uint8_t> input;
        Kind kind;
        std::string payload;
        Address destination = kHost;
    } cases[] = {
        {"a good request", good, Kind::Complete, "ECHO THIS"},
        {"a zero-length payload", request(7, ""), Kind::Complete, ""},
        {"the largest payload", request(7, std::string(kMaxPayload, 'x')), Kind::Complete, std::string(kMaxPayload, 'x')},
        {"nothing yet", {}, Kind::Incomplete, ""},
        {"half a tag", bytes("QE"), Kind::Incomplete, ""},
        {"a short one", {good.begin(), good.end() - 1}, Kind::Incomplete, ""},
        {"a header only", {good.begin(), good.begin() + 8}, Kind::Incomplete, ""},
        {"garbage", bytes("GET / HTTP/1.0\r\n\r\n"), Kind::Malformed, ""},
        {"garbage after half a tag", bytes("QEA2"), Kind::Malformed, ""},
        {"too short for a request", bytes(std::string("QER2\0\0\0\x18", 8) + std::string(24, '\0')), Kind::Malformed, ""},
        {"an oversized payload", bytes(std::string("QER2\0\1\0\x19", 8)), Kind::Malformed, ""},
        {"a length of 4 GiB", bytes("QER2\xff\xff\xff\xff"), Kind::Malformed, ""},
        {"an IPv6 request", request(7, "ECHO THIS", *Address::parse("2001:db8::1")), Kind::Complete, "ECHO THIS",
         *Address::parse("2001:db8::1")},
    };
    for (const auto& c : cases) {
        const auto decoded = decodeRequest(c.input);
        EXPECT_EQ(decoded.kind, c.kind) << c.what;
        EXPECT_EQ(decoded.kind == Kind::Malformed, !decoded.error.empty()) << c.what;
        if (decoded.kind != Kind::Complete)
            continue;
        EXPECT_EQ(decoded.size, c.input.size()) << c.what;
        EXPECT_EQ(decoded.message.id, 7u) << c.what;
        EXPECT_EQ(decoded.message.destination, c.destination) << c.what;
        EXPECT_EQ(decoded.message.timeoutMs, 500u) << c.what;
        EXPECT_EQ(std::string(decoded.message.payload.begin(), decoded.message.payload.end()), c.payload) << c.what;
    }
}

// Pipelined requests come back to back; each answer names its request.
TEST(EchoHelperProtocol, FramesFollowEachOtherAndAnswersKeepTheirIds)
{
    auto stream = request(1, "first");
    const auto second = request(0xFFFFFFFF, "second");
    stream.insert(stream.end(), second.begin(), second.end());
    const auto one = decodeRequest(stream);
    ASSERT_EQ(one.kind, Kind::Complete);
    const auto two = decodeRequest(std::span(stream).subspan(one.size));
    ASSERT_EQ(two.kind, Kind::Complete);
    EXPECT_EQ(two.message.id, 0xFFFFFFFFu);
    EXPECT_EQ(std::string(two.message.payload.begin(), two.message.payload.end()), "second");

    const auto data = bytes("ECHO THIS");
    for (const Address& from : {kHost, *Address::parse("2001:db8::ff")}) {
        std::vector<std::uint8_t> out;
        encodeAnswer({42, -1, from, 3, 64, data, 999}, out);
        const auto answer = decodeAnswer(out);
        ASSERT_EQ(answer.kind, Decoded<Settled>::Kind::Complete);
        EXPECT_EQ(answer.message.ticket, 42u);
        EXPECT_EQ(answer.message.status, -1);
        EXPECT_EQ(answer.message.address, from);
        EXPECT_EQ(answer.message.roundTripMs, 3u);
        EXPECT_EQ(answer.message.roundTripUsPastMs, 999);
        EXPECT_EQ(answer.message.ttl, 64);
        EXPECT_EQ(std::string(answer.message.data.begin(), answer.message.data.end()), "ECHO THIS");
    }
    EXPECT_EQ(decodeAnswer(request(1, "")).kind, Decoded<Settled>::Kind::Malformed);
}

}  // namespace
}  // namespace icmp::helper
