#include "probe/sockets.h"

#include "support/fake_network.h"
#include "support/recording_msgbox.h"

#include <gtest/gtest.h>

namespace {

TEST(StartSockets, AsksForVersion11AndTrustsOnlyTheResult)
{
    FakeNetwork network;
    EXPECT_TRUE(StartSockets());
    EXPECT_EQ(network.lastStartupVersion, 0x0101);

    network.startupResult = 10091;  // the platform is not ready
    EXPECT_FALSE(StartSockets());
}

TEST(StopSockets, WarnsOncePerFailedCleanupWithTheExclamationIcon)
{
    FakeNetwork network;
    RecordingMessageBox boxes;
    StopSockets();
    EXPECT_TRUE(boxes.shown.empty());

    network.cleanupResult = 10093;
    StopSockets();
    StopSockets();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].prompt, "Windows Sockets error occurred in Cleanup.");
    EXPECT_EQ(boxes.shown[0].style, 48);
}

TEST(ResolveHostName, GivesTheFirstAddressOrTheEmptyText)
{
    FakeNetwork network;
    network.hosts["alpha"] = {{192, 0, 2, 7}, {198, 51, 100, 9}};
    network.hosts["loop"] = {{127, 0, 0, 1}};

    EXPECT_EQ(ResolveHostName("alpha"), "192.0.2.7");
    EXPECT_EQ(ResolveHostName("loop"), "127.0.0.1");
    EXPECT_EQ(ResolveHostName("nowhere"), "");
}

TEST(ResolveHostName, HandsTheNameOverUnchanged)
{
    FakeNetwork network;
    network.hosts[""] = {{127, 0, 0, 2}};
    network.hosts[" spaced "] = {{127, 0, 0, 3}};

    // Neither an empty name nor blanks are judged here: the resolver decides.
    EXPECT_EQ(ResolveHostName(""), "127.0.0.2");
    EXPECT_EQ(ResolveHostName(" spaced "), "127.0.0.3");
    // A NUL inside the name ends it, as the platform reads it.
    EXPECT_EQ(ResolveHostName(QString("loop") + QChar(0) + "junk"), "");
    EXPECT_EQ(network.lookups, (std::vector<std::string>{"", " spaced ", "loop"}));
}

TEST(ResolveHostName, WorksOnTheRealResolverForLocalhost)
{
    // /etc/hosts answers this without any query leaving the machine.
    EXPECT_EQ(ResolveHostName("localhost"), "127.0.0.1");
    EXPECT_EQ(ResolveHostName("127.1.2.3"), "127.1.2.3");
    EXPECT_EQ(ResolveHostName("127.1"), "127.0.0.1");  // the resolver's own short forms
}

TEST(DottedText, ConvertsAddressesAndCopiesPlatformStrings)
{
    const std::uint8_t bytes[4] = {127, 0, 0, 1};
    std::uint32_t address;
    std::memcpy(&address, bytes, 4);
    EXPECT_EQ(DottedFromAddress(address), "127.0.0.1");

    EXPECT_EQ(StringFromAnsiPtr(""), "");
    const QString copied = StringFromAnsiPtr("192.0.2.3");
    EXPECT_EQ(copied, "192.0.2.3");
    EXPECT_EQ(copied.size(), 9);  // no NUL left at the end
    EXPECT_EQ(StringFromAnsiPtr("caf\xE9"), QString::fromUtf8("café"));
}

}  // namespace
