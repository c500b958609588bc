#include "support/fake_network.h"

#include "platform/net/icmp_packet.h"

#include <algorithm>

namespace {

std::string dotted(std::uint32_t address)
{
    return platform::realImplementation<platform::Network>().inet_ntoa({address});
}

}  // namespace

void FakeNetwork::record(const char* call)
{
    std::lock_guard lock(mutex_);
    calls.push_back(call);
}

int FakeNetwork::WSAStartup(std::uint16_t version, platform::WSADATA*)
{
    record("WSAStartup");
    lastStartupVersion = version;
    return startupResult;
}

int FakeNetwork::WSACleanup()
{
    record("WSACleanup");
    return cleanupResult;
}

const platform::HOSTENT* FakeNetwork::gethostbyname(const char* name)
{
    if (beforeLookup)
        beforeLookup(name);
    {
        std::lock_guard lock(mutex_);
        calls.push_back("gethostbyname");
        lookups.emplace_back(name);
    }
    const auto found = hosts.find(name);
    if (found == hosts.end() || found->second.empty())
        return nullptr;
    // Valid until the next look-up on the same thread, as the platform's.
    thread_local std::vector<Address> addresses;
    thread_local std::vector<char*> list;
    thread_local platform::HOSTENT entry{};
    addresses = found->second;
    list.clear();
    for (auto& address : addresses)
        list.push_back(reinterpret_cast<char*>(address.data()));
    list.push_back(nullptr);
    entry = platform::HOSTENT{nullptr, nullptr, 2, 4, list.data()};
    return &entry;
}

const char* FakeNetwork::inet_ntoa(platform::IN_ADDR address)
{
    record("inet_ntoa");
    return platform::realImplementation<platform::Network>().inet_ntoa(address);
}

std::uint32_t FakeNetwork::inet_addr(const char* text)
{
    record("inet_addr");
    return platform::realImplementation<platform::Network>().inet_addr(text);
}

platform::HANDLE FakeNetwork::IcmpCreateFile()
{
    record("IcmpCreateFile");
    return handleToGive;
}

std::uint32_t FakeNetwork::IcmpSendEcho(platform::HANDLE handle, std::uint32_t destination, const void* requestData,
                                        std::uint16_t requestSize,
                                        const platform::IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                                        std::uint32_t replySize, std::uint32_t timeout)
{
    record("IcmpSendEcho");
    return echo(handle, destination, requestData, requestSize, requestOptions, replyBuffer, replySize, timeout);
}

std::uint32_t FakeNetwork::echo(platform::HANDLE handle, std::uint32_t destination, const void* requestData,
                                std::uint16_t requestSize, const platform::IP_OPTION_INFORMATION* requestOptions,
                                void* replyBuffer, std::uint32_t replySize, std::uint32_t timeout)
{
    echoes.push_back({handle, destination, std::string(static_cast<const char*>(requestData), requestSize),
                      requestSize, requestOptions, replySize, timeout});
    if (beforeEcho)
        beforeEcho();
    if (!echoWritesReply)
        return 0;
    platform::icmp::Outcome outcome;
    outcome.status = scriptedStatus(destination);
    outcome.address = destination;
    outcome.data = {static_cast<const std::uint8_t*>(requestData), requestSize};
    return platform::icmp::writeReply(replyBuffer, replySize, outcome);
}

bool FakeNetwork::IcmpCloseHandle(platform::HANDLE handle)
{
    record("IcmpCloseHandle");
    closed.push_back(handle);
    return true;
}

std::int32_t FakeNetwork::scriptedStatus(std::uint32_t destination) const
{
    const auto scripted = statusOf.find(dotted(destination));
    return scripted == statusOf.end() ? echoStatus : scripted->second;
}

bool FakeNetwork::IcmpSendEcho2(platform::HANDLE handle, void* context, std::uint32_t destination,
                                const void* requestData, std::uint16_t requestSize,
                                const platform::IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                                std::uint32_t replySize, std::uint32_t timeout)
{
    record("IcmpSendEcho2");
    if (!echoesTakeTime) {
        echo(handle, destination, requestData, requestSize, requestOptions, replyBuffer, replySize, timeout);
        settled_.push_back(context);
        return true;
    }
    echoes.push_back({handle, destination, std::string(static_cast<const char*>(requestData), requestSize),
                      requestSize, requestOptions, replySize, timeout});
    const std::int32_t status = scriptedStatus(destination);
    const auto latency = latencyOf.find(dotted(destination));
    const std::uint32_t takes = status == platform::IP_REQ_TIMED_OUT ? timeout
                                : latency == latencyOf.end()         ? 1
                                                                     : latency->second;
    pending_.push_back({now + takes, context, static_cast<std::uint32_t>(status), destination, replyBuffer, replySize});
    mostInFlight = std::max(mostInFlight, pending_.size());
    return true;
}

std::size_t FakeNetwork::IcmpCollectEchoes(platform::HANDLE, std::uint32_t waitMs, std::vector<void*>& settled)
{
    record("IcmpCollectEchoes");
    if (echoesTakeTime && settled_.empty() && !pending_.empty()) {
        std::uint64_t next = pending_.front().due;
        for (const auto& echo : pending_)
            next = std::min(next, echo.due);
        now = std::min(next, now + waitMs);
        for (auto echo = pending_.end(); echo != pending_.begin();) {
            --echo;
            if (echo->due > now)
                continue;
            platform::icmp::Outcome outcome;
            outcome.status = echo->status;
            outcome.address = echo->destination;
            platform::icmp::writeReply(echo->replyBuffer, echo->replySize, outcome);
            settled_.push_back(echo->context);
            echo = pending_.erase(echo);
        }
    }
    const std::size_t count = settled_.size();
    settled.insert(settled.end(), settled_.begin(), settled_.end());
    settled_.clear();
    return count;
}
