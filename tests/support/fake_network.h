#pragma once

#include "icmp/echo_transport.h"
#include "platform/net/network.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <utility>
#include <mutex>
#include <string>
#include <vector>

// A scripted stand-in for sockets and ICMP echo. It resolves only the names
// it was given, answers each echo with the scripted status, and records
// every call in order. Address conversions are the real ones (pure text).
// Names may be resolved on several threads at once.
class FakeNetwork final : public platform::Network {
public:
    using Address = std::array<std::uint8_t, 4>;

    struct Echo {
        platform::HANDLE handle;
        std::uint32_t destination;  // 0 for IPv6
        std::string data;
        std::uint16_t size;
        const platform::IP_OPTION_INFORMATION* options;
        std::uint32_t replySize;
        std::uint32_t timeout;
    };

    // Script.
    int startupResult = 0;
    int cleanupResult = 0;
    std::map<std::string, std::vector<Address>> hosts;
    // FirstAddress's answers, by name and family.
    std::map<std::pair<std::string, icmp::Family>, icmp::Address> firstAddresses;
    platform::HANDLE handleToGive = reinterpret_cast<platform::HANDLE>(std::intptr_t{0x1000});
    std::int32_t echoStatus = platform::IP_SUCCESS;
    std::map<std::string, std::int32_t> statusOf;  // by dotted destination; echoStatus for the others
    // By dotted destination: this many echoes time out before the scripted
    // status is given, as on a link that loses packets.
    std::map<std::string, int> timeoutsBefore;
    std::function<void()> beforeEcho;
    bool echoWritesReply = true;
    // Called with the name, on the resolving thread, before it is looked up.
    std::function<void(const std::string&)> beforeLookup;
    // Asynchronous echoes take time on the fake's own clock: the ms latencyOf
    // gives by dotted destination (1 for the others), or their timeout when
    // they time out. A collection moves the clock on to the next end of an
    // echo, no further than its wait, and settles every echo due by then,
    // the last started first; only then is its reply record written.
    std::map<std::string, std::uint32_t> latencyOf;
    // By dotted destination: the microseconds past latencyOf's milliseconds
    // of each answer from the process's transport, called once an echo.
    std::map<std::string, std::function<std::uint16_t()>> microsecondsOf;

    // Record.
    std::vector<std::string> calls;  // operation names, in order
    std::vector<std::string> lookups;
    std::vector<Echo> echoes;
    std::vector<platform::HANDLE> closed;
    std::uint64_t now = 0;  // ms on the fake's clock
    std::size_t mostInFlight = 0;

    int WSAStartup(std::uint16_t version, platform::WSADATA* data) override;
    int WSACleanup() override;
    const platform::HOSTENT* gethostbyname(const char* name) override;
    const char* inet_ntoa(platform::IN_ADDR address) override;
    std::uint32_t inet_addr(const char* text) override;
    platform::HANDLE IcmpCreateFile() override;
    std::uint32_t IcmpSendEcho(platform::HANDLE handle, std::uint32_t destination, const void* requestData,
                               std::uint16_t requestSize, const platform::IP_OPTION_INFORMATION* requestOptions,
                               void* replyBuffer, std::uint32_t replySize, std::uint32_t timeout) override;
    bool IcmpCloseHandle(platform::HANDLE handle) override;
    // See latencyOf for when the echoes settle.
    bool IcmpSendEcho2(platform::HANDLE handle, void* context, std::uint32_t destination, const void* requestData,
                       std::uint16_t requestSize, const platform::IP_OPTION_INFORMATION* requestOptions,
                       void* replyBuffer, std::uint32_t replySize, std::uint32_t timeout) override;
    std::size_t IcmpCollectEchoes(platform::HANDLE handle, std::uint32_t waitMs, std::vector<void*>& settled) override;

    std::optional<icmp::Address> FirstAddress(const char* name, icmp::Family family) override;
    // The same script and clock as the asynchronous echoes; null while
    // handleToGive is not a handle, as the platform's when it has no socket.
    icmp::EchoTransport* ProcessEchoTransport() override;

    std::uint16_t lastStartupVersion = 0;

private:
    class Transport final : public icmp::EchoTransport {
    public:
        explicit Transport(FakeNetwork& network) : network_(network) {}
        icmp::Ticket start(const icmp::Address& destination, std::span<const std::uint8_t> data,
                           std::uint32_t timeoutMs) override;
        void abandon(icmp::Ticket ticket) override;
        std::size_t inFlight() const override { return pending_.size(); }
        std::optional<icmp::Clock::time_point> nextDeadline() const override;
        void collect(std::vector<icmp::Settled>& settled) override;
        // Moves the fake's clock on to the next end of an echo, no further
        // than until, read on the fake's clock (nextDeadline's).
        void wait(icmp::Clock::time_point until) override;
        icmp::Settled echo(const icmp::Address& destination, std::span<const std::uint8_t> data,
                           std::uint32_t timeoutMs) override;

    private:
        struct Pending {
            std::uint64_t due;
            icmp::Settled outcome;
        };
        FakeNetwork& network_;
        icmp::Ticket next_ = 1;
        std::vector<Pending> pending_;
        std::vector<icmp::Settled> settled_;
    };

    struct Pending {
        std::uint64_t due;
        void* context;
        icmp::Settled outcome;
        void* replyBuffer;
        std::uint32_t replySize;
    };
    std::int32_t scriptedStatus(const std::string& destination);
    void record(const char* call);

    std::vector<Pending> pending_;
    std::mutex mutex_;
    Transport transport_{*this};
    platform::ScopedFake<platform::Network> installed_{*this};
};
