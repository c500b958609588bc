// Real ICMP echoes over the real sockets. Every target is a loopback
// address: nothing here leaves the machine.

#include "icmp/echo_socket.h"
#include "platform/net/network.h"
#include "platform/system/program_start.h"
#include "probe/send_echo.h"
#include "support/private_network.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>
#include <sstream>
#include <string>
#include <thread>

namespace {

// Where the machine allows this user no ICMP socket, the tests move into a
// network namespace of their own, once: its loopback answers as the
// machine's does.
std::string whyNoEchoSockets()
{
    static const std::string why = icmp::EchoSocket::open() ? "" : private_network::enter();
    return why.empty() && !icmp::EchoSocket::open() ? "no ICMP socket opens even in a namespace" : why;
}

#define REQUIRE_ECHO_SOCKETS()                                               \
    do {                                                                     \
        if (const std::string why = whyNoEchoSockets(); !why.empty()) {      \
            if (private_network::required())                                 \
                FAIL() << "CI must be able to open an ICMP socket: " << why; \
            GTEST_SKIP() << "no ICMP socket may be opened here: " << why;    \
        }                                                                    \
    } while (0)

std::uint32_t address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d)
{
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

TEST(LoopbackEcho, AnswersFromEveryLoopbackAddress)
{
    REQUIRE_ECHO_SOCKETS();
    struct Target {
        const char* text;
        std::uint32_t address;
    };
    const Target targets[] = {
        {"127.0.0.1", address(127, 0, 0, 1)},
        {"127.0.0.2", address(127, 0, 0, 2)},
        {"127.1.2.3", address(127, 1, 2, 3)},
        {"127.255.255.254", address(127, 255, 255, 254)},
    };
    for (const auto& target : targets) {
        EchoReply reply{};
        ASSERT_EQ(SendEcho(target.text, "ECHO THIS", reply, 2000), 0) << target.text;
        EXPECT_EQ(reply.Status, 0) << target.text;
        EXPECT_EQ(reply.Address, target.address) << target.text;
        EXPECT_EQ(reply.DataSize, 9) << target.text;
        EXPECT_EQ(std::memcmp(reply.DataArea, "ECHO THIS", 9), 0) << target.text;
        EXPECT_EQ(reply.Data, 28u) << target.text;
        EXPECT_GT(reply.Options.Ttl, 0) << target.text;
    }
}

// The kernel would answer an echo to 0.0.0.0 itself; it is a failure,
// never an answer, and after a real answer the record must not keep it.
TEST(LoopbackEcho, TheUnspecifiedAddressIsAGeneralFailure)
{
    REQUIRE_ECHO_SOCKETS();
    EchoReply reply{};
    ASSERT_EQ(SendEcho("127.0.0.1", "ECHO THIS", reply, 2000), 0);
    EXPECT_EQ(SendEcho("0.0.0.0", "ECHO THIS", reply, 2000), 11050);
    EXPECT_EQ(SendEcho("0", "ECHO THIS", reply, 2000), 11050);
}

TEST(LoopbackEcho, OneRecordServesManyEchoesWithoutStaleData)
{
    REQUIRE_ECHO_SOCKETS();
    EchoReply reply{};
    for (int i = 0; i < 50; ++i)
        ASSERT_EQ(SendEcho("127.0.0.1", "ECHO THIS", reply, 2000), 0) << "echo " << i;
    EXPECT_EQ(SendEcho("127.0.0.1", "ECHO", reply, 2000), 0);
    EXPECT_EQ(reply.DataSize, 4);
}

TEST(LoopbackEcho, EachSocketKindThatMayBeOpenedWorks)
{
    REQUIRE_ECHO_SOCKETS();
    using icmp::EchoSocket;
    using icmp::SocketKind;
    const std::uint8_t data[] = {'E', 'C', 'H', 'O', ' ', 'T', 'H', 'I', 'S'};
    int proved = 0;
    for (SocketKind kind : {SocketKind::Datagram, SocketKind::Raw}) {
        auto socket = EchoSocket::open(kind);
        if (!socket) {
            std::printf("[ note ] %s socket not permitted here; the network lab proves it\n",
                        kind == SocketKind::Raw ? "raw" : "datagram");
            continue;
        }
        const auto outcome = socket->echo(icmp::Address::v4(address(127, 0, 0, 1)), data, 2000);
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.address, icmp::Address::v4(address(127, 0, 0, 1)));
        EXPECT_EQ(std::string(outcome.data.begin(), outcome.data.end()), "ECHO THIS");
        ++proved;
    }
    EXPECT_GE(proved, 1);
}

TEST(LoopbackEcho, TheLayerRefusesHandlesItDidNotGive)
{
    auto& network = platform::realImplementation<platform::Network>();
    std::uint8_t buffer[278];
    std::memset(buffer, 0, sizeof buffer);
    int dummy = 0;
    const platform::HANDLE foreign = &dummy;
    EXPECT_EQ(network.IcmpSendEcho(foreign, address(127, 0, 0, 1), "x", 1, nullptr, buffer, sizeof buffer, 10), 0u);
    std::int32_t status;
    std::memcpy(&status, buffer + 4, 4);
    EXPECT_EQ(status, 11050);
    EXPECT_FALSE(network.IcmpCloseHandle(foreign));
    EXPECT_FALSE(network.IcmpCloseHandle(platform::INVALID_HANDLE_VALUE));

    const platform::HANDLE handle = network.IcmpCreateFile();
    if (handle != platform::INVALID_HANDLE_VALUE) {
        EXPECT_TRUE(network.IcmpCloseHandle(handle));
        EXPECT_FALSE(network.IcmpCloseHandle(handle));  // a second close is refused, not a double free
    }
}

// The targets of this process's descriptors: "socket:[inode]", paths, pipes.
std::vector<std::string> descriptors()
{
    std::vector<std::string> targets;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error))
        targets.push_back(std::filesystem::read_symlink(entry.path(), error).string());
    return targets;
}

// The socket is kept for the process's life, so echoes after the first open
// nothing, and a program started from the window gets no part of it.
TEST(LoopbackEcho, OneSocketServesEveryEchoAndStaysWithThisProcess)
{
    REQUIRE_ECHO_SOCKETS();
    EchoReply reply{};
    ASSERT_EQ(SendEcho("127.0.0.1", "ECHO THIS", reply, 2000), 0);
    const std::size_t before = descriptors().size();
    for (int i = 0; i < 20000; ++i)
        ASSERT_EQ(SendEcho(i % 2 ? "127.0.0.1" : "127.0.0.2", "ECHO THIS", reply, 2000), 0) << "echo " << i;
    // One more after the socket had time to be replaced as idle.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_EQ(SendEcho("127.0.0.1", "ECHO THIS", reply, 2000), 0);
    EXPECT_EQ(descriptors().size(), before);

    const auto folder = std::filesystem::temp_directory_path() / ("quorvex-fds-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto script = folder / "list fds";
    const auto listing = folder / "fds.txt";
    std::ofstream(script) << "#!/bin/sh\nls -l /proc/$$/fd > '" << listing.string() << ".part'\nmv '"
                          << listing.string() << ".part' '" << listing.string() << "'\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    platform::realImplementation<platform::ProgramStart>().start(QString::fromStdString(script.string()),
                                                                 platform::window_style::NormalFocus);
    for (int i = 0; i < 100 && !std::filesystem::exists(listing); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::stringstream started;
    started << std::ifstream(listing).rdbuf();
    std::filesystem::remove_all(folder);
    ASSERT_FALSE(started.str().empty()) << "the started program wrote nothing";
    for (const auto& target : descriptors())
        if (target.rfind("socket:", 0) == 0) {
            EXPECT_EQ(started.str().find(target), std::string::npos) << target << " was inherited";
        }
}

TEST(LoopbackEcho, WinsockStartupAndCleanupPair)
{
    auto& network = platform::realImplementation<platform::Network>();
    platform::WSADATA data{};
    EXPECT_EQ(network.WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(network.WSACleanup(), 0);
    EXPECT_NE(network.WSACleanup(), 0);  // nothing left to end
}

}  // namespace
