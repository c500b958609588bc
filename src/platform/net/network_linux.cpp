#include "platform/net/network.h"

#include "platform/net/echo_helper_client.h"
#include "platform/net/icmp_socket.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <arpa/inet.h>
#include <netdb.h>

namespace platform {
namespace {

constexpr int kWsaNotInitialised = 10093;

// How one handle sends its echoes: over a socket of this process's own,
// or, when it may open none, through the process's echo helper, which holds
// the right to a raw socket so that this process never does.
struct EchoTransport {
    std::unique_ptr<icmp::EchoSocket> socket;
    icmp::EchoHelper* helper = nullptr;

    icmp::Outcome echo(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
    {
        return socket ? socket->echo(destination, data, timeoutMs) : helper->echo(destination, data, timeoutMs);
    }
};

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

    const char* inet_ntoa(IN_ADDR address) override
    {
        in_addr native{};
        native.s_addr = address.S_addr;
        return ::inet_ntoa(native);
    }

    std::uint32_t inet_addr(const char* text) override { return ::inet_addr(text); }

    HANDLE IcmpCreateFile() override
    {
        // A process refused both kinds of socket stays refused for its
        // life (ping_group_range aside, which an administrator opens for
        // the next start), so it asks the helper at once from then on.
        static std::atomic<bool> refusedSockets{false};
        auto transport = std::make_unique<EchoTransport>();
        if (!refusedSockets.load(std::memory_order_relaxed))
            transport->socket = icmp::EchoSocket::open();
        if (!transport->socket) {
            transport->helper = icmp::processEchoHelper();
            refusedSockets.store(transport->helper != nullptr, std::memory_order_relaxed);
        }
        if (!transport->socket && !transport->helper)
            return INVALID_HANDLE_VALUE;
        std::lock_guard lock(handlesMutex_);
        return *handles_.insert(transport.release()).first;
    }

    std::uint32_t IcmpSendEcho(HANDLE handle, std::uint32_t destination, const void* requestData,
                               std::uint16_t requestSize, const IP_OPTION_INFORMATION*, void* replyBuffer,
                               std::uint32_t replySize, std::uint32_t timeout) override
    {
        auto* transport = find(handle);
        // Linux delivers an echo to 0.0.0.0 to this very machine, which
        // would answer for a host that was never asked.
        if (transport == nullptr || (requestData == nullptr && requestSize != 0) || destination == 0) {
            icmp::Outcome failed;
            failed.status = IP_GENERAL_FAILURE;
            return icmp::writeReply(replyBuffer, replySize, failed);
        }
        const std::span<const std::uint8_t> data(static_cast<const std::uint8_t*>(requestData), requestSize);
        return icmp::writeReply(replyBuffer, replySize, transport->echo(destination, data, timeout));
    }

    bool IcmpCloseHandle(HANDLE handle) override
    {
        std::unique_ptr<EchoTransport> transport;
        std::lock_guard lock(handlesMutex_);
        if (handles_.erase(handle) == 0)
            return false;
        settled_.erase(handle);
        transport.reset(static_cast<EchoTransport*>(handle));
        return true;
    }

    // For now every echo settles while it is started, one after another.
    bool IcmpSendEcho2(HANDLE handle, void* context, std::uint32_t destination, const void* requestData,
                       std::uint16_t requestSize, const IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                       std::uint32_t replySize, std::uint32_t timeout) override
    {
        if (find(handle) == nullptr) {
            IcmpSendEcho(handle, destination, requestData, requestSize, requestOptions, replyBuffer, replySize, timeout);
            return false;
        }
        IcmpSendEcho(handle, destination, requestData, requestSize, requestOptions, replyBuffer, replySize, timeout);
        std::lock_guard lock(handlesMutex_);
        settled_[handle].push_back(context);
        return true;
    }

    std::size_t IcmpCollectEchoes(HANDLE handle, std::uint32_t, std::vector<void*>& settled) override
    {
        std::lock_guard lock(handlesMutex_);
        const auto found = settled_.find(handle);
        if (found == settled_.end())
            return 0;
        const std::size_t count = found->second.size();
        settled.insert(settled.end(), found->second.begin(), found->second.end());
        settled_.erase(found);
        return count;
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
        if (text.empty() || text.back() == '.' ||
            text.find_first_not_of("0123456789.") != std::string_view::npos ||
            ::inet_aton(name, &lookup.numeric) == 0)
            return false;
        lookup.numericList[0] = reinterpret_cast<char*>(&lookup.numeric);
        lookup.numericList[1] = nullptr;
        lookup.numericName = text;
        lookup.result = HOSTENT{lookup.numericName.data(), lookup.noAliases, AF_INET, 4, lookup.numericList};
        return true;
    }

    // Only handles this layer gave out are used or closed, so a stale or
    // foreign handle is refused instead of being dereferenced.
    EchoTransport* find(HANDLE handle)
    {
        std::lock_guard lock(handlesMutex_);
        return handles_.count(handle) ? static_cast<EchoTransport*>(handle) : nullptr;
    }

    std::atomic<int> startups_{0};
    std::mutex handlesMutex_;
    std::unordered_set<HANDLE> handles_;
    std::unordered_map<HANDLE, std::vector<void*>> settled_;
};

}  // namespace

template <>
Network& realImplementation<Network>()
{
    static LinuxNetwork network;
    return network;
}

}  // namespace platform
