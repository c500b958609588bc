#include "platform/net/network.h"

#include "icmp/echo_lanes.h"
#include "icmp/helper_client.h"
#include "platform/net/dotted_quad.h"
#include "platform/net/echo_reply_record.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <memory>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {
namespace {

constexpr int kWsaNotInitialised = 10093;

class LinuxNetwork final : public Network {
public:
    // Linux sockets need no start-up; the count keeps start-up and clean-up
    // pairable, so a clean-up without a start-up fails as it would there.
    int WSAStartup(std::uint16_t, WSADATA*) override
    {
        ++startups_;
        return 0;
    }

    int WSACleanup() override
    {
        int open = startups_.load();
        while (open > 0)
            if (startups_.compare_exchange_weak(open, open - 1))
                return 0;
        return kWsaNotInitialised;
    }

    // The system resolver (files, then DNS, as nsswitch says), IPv4 only,
    // addresses in the order of the answer.
    const HOSTENT* gethostbyname(const char* name) override
    {
        thread_local Lookup lookup;
        if (numericAddress(name, lookup))
            return &lookup.result;
        hostent* found = nullptr;
        int error = 0;
        if (lookup.buffer.size() < 1024)
            lookup.buffer.resize(1024);
        while (::gethostbyname_r(name, &lookup.entry, lookup.buffer.data(), lookup.buffer.size(), &found, &error) ==
                   ERANGE &&
               lookup.buffer.size() < (1u << 20))
            lookup.buffer.resize(lookup.buffer.size() * 2);
        if (found == nullptr || found->h_addrtype != AF_INET || found->h_length != 4 ||
            found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr)
            return nullptr;
        lookup.result = HOSTENT{found->h_name, found->h_aliases, static_cast<std::int16_t>(found->h_addrtype),
                                static_cast<std::int16_t>(found->h_length), found->h_addr_list};
        return &lookup.result;
    }

    // The text ::inet_ntoa gives, in a buffer of each thread as there, but
    // without a formatted print: that cost more than the rest of the look-up
    // of a numeric name.
    const char* inet_ntoa(IN_ADDR address) override
    {
        thread_local char text[sizeof "255.255.255.255"];
        std::uint8_t bytes[4];
        std::memcpy(bytes, &address.S_addr, sizeof bytes);
        char* end = text;
        for (const std::uint8_t byte : bytes) {
            if (end != text)
                *end++ = '.';
            end = std::to_chars(end, std::end(text), unsigned{byte}).ptr;
        }
        *end = '\0';
        return text;
    }

    std::uint32_t inet_addr(const char* text) override
    {
        if (const std::optional<std::uint32_t> address = PlainDottedQuad(text))
            return *address;
        return ::inet_addr(text);
    }

    // A handle is a lease on the socket the process keeps, so opening and
    // closing one costs no system call. Handles are serial numbers, never
    // given twice, so a closed handle stays refused whatever the allocator
    // does meanwhile.
    HANDLE IcmpCreateFile() override
    {
        std::lock_guard lock(mutex_);
        if (!transport())
            return INVALID_HANDLE_VALUE;
        const std::uint64_t serial = nextSerial_++;
        leases_.emplace(serial, Lease{});
        return handleOf(serial);
    }

    std::uint32_t IcmpSendEcho(HANDLE handle, std::uint32_t destination, const void* requestData,
                               std::uint16_t requestSize, const IP_OPTION_INFORMATION*, void* replyBuffer,
                               std::uint32_t replySize, std::uint32_t timeout) override
    {
        std::lock_guard lock(mutex_);
        if (lease(handle) == nullptr || !acceptable(destination, requestData, requestSize))
            return generalFailure(replyBuffer, replySize);
        const std::span<const std::uint8_t> data(static_cast<const std::uint8_t*>(requestData), requestSize);
        return writeReply(replyBuffer, replySize, transport_->echo(icmp::Address::v4(destination), data, timeout));
    }

    bool IcmpCloseHandle(HANDLE handle) override
    {
        std::lock_guard lock(mutex_);
        const auto found = leases_.find(serialOf(handle));
        if (found == leases_.end())
            return false;
        for (auto started = started_.begin(); started != started_.end();) {
            if (started->second.serial != found->first) {
                ++started;
                continue;
            }
            transport_->abandon(started->first);
            started = started_.erase(started);
        }
        leases_.erase(found);
        return true;
    }

    bool IcmpSendEcho2(HANDLE handle, void* context, std::uint32_t destination, const void* requestData,
                       std::uint16_t requestSize, const IP_OPTION_INFORMATION*, void* replyBuffer,
                       std::uint32_t replySize, std::uint32_t timeout) override
    {
        std::lock_guard lock(mutex_);
        Lease* owner = lease(handle);
        if (owner == nullptr) {
            generalFailure(replyBuffer, replySize);
            return false;
        }
        if (!acceptable(destination, requestData, requestSize)) {
            generalFailure(replyBuffer, replySize);
            owner->settled.push_back(context);
            return true;
        }
        if (owner->inFlight >= kMostInFlightPerHandle) {
            icmp::Settled refused;
            refused.status = IP_NO_RESOURCES;
            writeReply(replyBuffer, replySize, refused);
            owner->settled.push_back(context);
            return true;
        }
        const std::span<const std::uint8_t> data(static_cast<const std::uint8_t*>(requestData), requestSize);
        const auto ticket = transport_->start(icmp::Address::v4(destination), data, timeout);
        started_.emplace(ticket, Started{serialOf(handle), context, replyBuffer, replySize});
        ++owner->inFlight;
        return true;
    }

    std::size_t IcmpCollectEchoes(HANDLE handle, std::uint32_t waitMs, std::vector<void*>& settled) override
    {
        std::lock_guard lock(mutex_);
        Lease* owner = lease(handle);
        if (owner == nullptr)
            return 0;
        deliver();
        if (owner->settled.empty() && owner->inFlight > 0 && waitMs > 0) {
            const auto until = icmp::Clock::now() + std::chrono::milliseconds(waitMs);
            while (owner->settled.empty() && owner->inFlight > 0 && icmp::Clock::now() < until) {
                transport_->wait(std::min(until, transport_->nextDeadline().value_or(until)));
                deliver();
            }
        }
        const std::size_t count = owner->settled.size();
        settled.insert(settled.end(), owner->settled.begin(), owner->settled.end());
        owner->settled.clear();
        return count;
    }

    std::optional<icmp::Address> FirstAddress(const char* name, icmp::Family family) override
    {
        addrinfo hints{};
        hints.ai_family = family == icmp::Family::V6 ? AF_INET6 : AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr)
            return std::nullopt;
        std::optional<icmp::Address> first;
        if (found->ai_family == AF_INET6 && found->ai_addrlen >= sizeof(sockaddr_in6)) {
            const auto* address = reinterpret_cast<const sockaddr_in6*>(found->ai_addr);
            first = icmp::Address::v6(std::span<const std::uint8_t, 16>(address->sin6_addr.s6_addr, 16));
        } else if (found->ai_family == AF_INET && found->ai_addrlen >= sizeof(sockaddr_in)) {
            first = icmp::Address::v4(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
        }
        ::freeaddrinfo(found);
        return first;
    }

    icmp::EchoTransport* ProcessEchoTransport() override
    {
        std::lock_guard lock(mutex_);
        return transport();
    }

private:
    struct Lookup {
        hostent entry{};
        std::vector<char> buffer;
        HOSTENT result{};
        in_addr numeric{};
        char* numericList[2]{};
        std::string numericName;
        char* noAliases[1]{};
    };

    // A name of digits and dots is its own address, exactly as the resolver
    // would answer it, but without asking the resolver (which re-reads its
    // configuration at every call).
    static bool numericAddress(const char* name, Lookup& lookup)
    {
        const std::string_view text(name);
        if (const std::optional<std::uint32_t> address = PlainDottedQuad(text))
            lookup.numeric.s_addr = *address;
        else if (text.empty() || text.back() == '.' || text.find_first_not_of("0123456789.") != std::string_view::npos ||
                 ::inet_aton(name, &lookup.numeric) == 0)
            return false;
        lookup.numericList[0] = reinterpret_cast<char*>(&lookup.numeric);
        lookup.numericList[1] = nullptr;
        lookup.numericName = text;
        lookup.result = HOSTENT{lookup.numericName.data(), lookup.noAliases, AF_INET, 4, lookup.numericList};
        return true;
    }

    // An echo started by IcmpSendEcho2, until it settles.
    struct Started {
        std::uint64_t serial;
        void* context;
        void* replyBuffer;
        std::uint32_t replySize;
    };
    struct Lease {
        std::size_t inFlight = 0;
        std::vector<void*> settled;
    };

    static constexpr std::size_t kMostInFlightPerHandle = 1024;

    static HANDLE handleOf(std::uint64_t serial)
    {
        return reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(serial));
    }
    static std::uint64_t serialOf(HANDLE handle) { return reinterpret_cast<std::uintptr_t>(handle); }

    // Only handles this layer gave out are used or closed.
    Lease* lease(HANDLE handle)
    {
        const auto found = leases_.find(serialOf(handle));
        return found == leases_.end() ? nullptr : &found->second;
    }

    // How this process sends its echoes, chosen at the first echo and kept
    // for the process's life: over ICMP sockets of its own if one opens
    // (spread over the cores for echoes in flight together),
    // otherwise through its echo helper, which holds the right to a raw
    // socket so that this process never does. A process refused both kinds
    // of socket stays refused (ping_group_range is read when a socket
    // opens, and an administrator opens it for the next start), so the
    // helper is never traded back.
    icmp::EchoTransport* transport()
    {
        if (transport_ == nullptr) {
            own_ = icmp::EchoLanes::openForThisMachine();
            transport_ = own_ ? own_.get() : icmp::processEchoHelper();
        }
        return transport_;
    }

    // Linux delivers an echo to 0.0.0.0 to this very machine, which would
    // answer for a host that was never asked.
    static bool acceptable(std::uint32_t destination, const void* requestData, std::uint16_t requestSize)
    {
        return (requestData != nullptr || requestSize == 0) && destination != 0;
    }

    static std::uint32_t generalFailure(void* replyBuffer, std::uint32_t replySize)
    {
        icmp::Settled failed;
        failed.status = IP_GENERAL_FAILURE;
        return writeReply(replyBuffer, replySize, failed);
    }

    // Writes the reply record of every echo that has settled and hands its
    // context to its handle.
    void deliver()
    {
        transport_->collect(settledEchoes_);
        for (const auto& echo : settledEchoes_) {
            const auto found = started_.find(echo.ticket);
            if (found == started_.end())
                continue;
            writeReply(found->second.replyBuffer, found->second.replySize, echo);
            Lease& owner = leases_.at(found->second.serial);
            --owner.inFlight;
            owner.settled.push_back(found->second.context);
            started_.erase(found);
        }
        settledEchoes_.clear();
    }

    std::atomic<int> startups_{0};
    std::mutex mutex_;
    std::unique_ptr<icmp::EchoTransport> own_;
    icmp::EchoTransport* transport_ = nullptr;
    // Starts far from 0 and from INVALID_HANDLE_VALUE.
    std::uint64_t nextSerial_ = 0x10000;
    std::unordered_map<std::uint64_t, Lease> leases_;
    std::unordered_map<icmp::Ticket, Started> started_;
    std::vector<icmp::Settled> settledEchoes_;
};

}  // namespace

template <>
Network& realImplementation<Network>()
{
    static LinuxNetwork network;
    return network;
}

}  // namespace platform
