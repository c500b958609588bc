#include "probe/send_echo.h"
#include "probe/sockets.h"

#include "support/fake_network.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

EchoReply filledWith(std::uint8_t byte)
{
    EchoReply reply;
    std::memset(&reply, byte, sizeof reply);
    return reply;
}

bool untouched(const EchoReply& reply, std::uint8_t byte)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&reply);
    for (std::size_t i = 0; i < sizeof reply; ++i)
        if (bytes[i] != byte)
            return false;
    return true;
}

TEST(SendEcho, RefusesTextsThatAreNotAnAddressWithoutSending)
{
    FakeNetwork network;
    for (const char* text : {"", "255.255.255.255", "alpha", "192.0.2.1.5"}) {
        EchoReply reply = filledWith(0xAB);
        EXPECT_EQ(SendEcho(text, "ECHO THIS", reply, 500), -1) << text;
        EXPECT_TRUE(untouched(reply, 0xAB)) << text;
    }
    EXPECT_EQ(network.calls, std::vector<std::string>(4, "inet_addr"));
}

TEST(SendEcho, ANameThatDoesNotResolveEndsAsABadAddressWithNothingSent)
{
    FakeNetwork network;
    EchoReply reply = filledWith(0x5A);
    const QString address = ResolveHostName("nowhere.invalid");
    EXPECT_EQ(address, "");
    EXPECT_EQ(SendEcho(address, "ECHO THIS", reply, 500), -1);
    EXPECT_TRUE(untouched(reply, 0x5A));
    EXPECT_EQ(network.calls, (std::vector<std::string>{"gethostbyname", "inet_addr"}));
}

TEST(SendEcho, HandsTheEchoOverAsTheInterfaceExpects)
{
    FakeNetwork network;
    EchoReply reply{};
    EXPECT_EQ(SendEcho("192.0.2.7", "ECHO THIS", reply, -1), 0);

    ASSERT_EQ(network.echoes.size(), 1u);
    const auto& echo = network.echoes[0];
    const std::uint8_t expected[4] = {192, 0, 2, 7};
    EXPECT_EQ(std::memcmp(&echo.destination, expected, 4), 0);
    EXPECT_EQ(echo.data, "ECHO THIS");
    EXPECT_EQ(echo.size, 9);  // no terminating NUL
    EXPECT_EQ(echo.options, nullptr);
    EXPECT_EQ(echo.replySize, 278u);
    EXPECT_EQ(echo.timeout, 4294967295u);
    EXPECT_EQ(echo.handle, network.handleToGive);
    // The status is taken before the handle is closed, and it is closed once.
    EXPECT_EQ(network.calls,
              (std::vector<std::string>{"inet_addr", "IcmpCreateFile", "IcmpSendEcho", "IcmpCloseHandle"}));
    EXPECT_EQ(network.closed, std::vector<platform::HANDLE>{network.handleToGive});
}

TEST(SendEcho, PassesTimeoutsThroughAsUnsigned)
{
    FakeNetwork network;
    EchoReply reply{};
    for (std::int32_t timeout : {0, 1, 500, INT32_MAX, INT32_MIN})
        SendEcho("127.0.0.1", "ECHO THIS", reply, timeout);
    ASSERT_EQ(network.echoes.size(), 5u);
    EXPECT_EQ(network.echoes[0].timeout, 0u);
    EXPECT_EQ(network.echoes[1].timeout, 1u);
    EXPECT_EQ(network.echoes[2].timeout, 500u);
    EXPECT_EQ(network.echoes[3].timeout, 2147483647u);
    EXPECT_EQ(network.echoes[4].timeout, 2147483648u);
}

TEST(SendEcho, ReturnsTheStatusTheReplyRecordHolds)
{
    FakeNetwork network;
    EchoReply reply{};
    network.echoStatus = platform::IP_REQ_TIMED_OUT;
    EXPECT_EQ(SendEcho("192.0.2.9", "ECHO THIS", reply, 200), 11010);
    EXPECT_EQ(reply.Status, 11010);

    network.echoStatus = platform::IP_SUCCESS;
    EXPECT_EQ(SendEcho("192.0.2.9", "ECHO THIS", reply, 200), 0);
    EXPECT_EQ(reply.DataSize, 9);
    EXPECT_EQ(std::memcmp(reply.DataArea, "ECHO THIS", 9), 0);
}

TEST(SendEcho, AHandleThatCouldNotBeOpenedIsAFailureNeverAnAnswer)
{
    for (platform::HANDLE bad : {platform::HANDLE{nullptr}, platform::INVALID_HANDLE_VALUE}) {
        FakeNetwork network;
        network.handleToGive = bad;
        EchoReply reply = filledWith(0);  // as a run's record starts
        EXPECT_EQ(SendEcho("127.0.0.1", "ECHO THIS", reply, 500), 11050);
        EXPECT_TRUE(network.echoes.empty());
        EXPECT_TRUE(network.closed.empty());
        EXPECT_TRUE(untouched(reply, 0));
    }
}

}  // namespace
