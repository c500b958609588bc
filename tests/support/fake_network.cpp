#include "support/fake_network.h"

#include "platform/net/echo_reply_record.h"

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
                                        std::uint16_t requestSize, const platform::IP_OPTION_INFORMATION* requestOptions,
                                        void* replyBuffer, std::uint32_t replySize, std::uint32_t timeout)
{
    record("IcmpSendEcho");
    echoes.push_back({handle, destination, std::string(static_cast<const char*>(requestData), requestSize),
                      requestSize, requestOptions, replySize, timeout});
    if (beforeEcho)
        beforeEcho();
    if (!echoWritesReply)
        return 0;
    icmp::Settled outcome;
    outcome.status = scriptedStatus(dotted(destination));
    outcome.address = icmp::Address::v4(destination);
    const auto* data = static_cast<const std::uint8_t*>(requestData);
    outcome.data.assign(data, data + requestSize);
    return platform::writeReply(replyBuffer, replySize, outcome);
}

bool FakeNetwork::IcmpCloseHandle(platform::HANDLE handle)
{
    record("IcmpCloseHandle");
    closed.push_back(handle);
    return true;
}

std::int32_t FakeNetwork::scriptedStatus(const std::string& destination)
{
    if (const auto lost = timeoutsBefore.find(destination); lost != timeoutsBefore.end() && lost->second > 0) {
        --lost->second;
        return platform::IP_REQ_TIMED_OUT;
    }
    const auto scripted = statusOf.find(destination);
    return scripted == statusOf.end() ? echoStatus : scripted->second;
}

bool FakeNetwork::IcmpSendEcho2(platform::HANDLE handle, void* context, std::uint32_t destination,
                                const void* requestData, std::uint16_t requestSize,
                                const platform::IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                                std::uint32_t replySize, std::uint32_t timeout)
{
    record("IcmpSendEcho2");
    echoes.push_back({handle, destination, std::string(static_cast<const char*>(requestData), requestSize),
                      requestSize, requestOptions, replySize, timeout});
    Pending echo{now + timeout, context, {}, replyBuffer, replySize};
    echo.outcome.status = scriptedStatus(dotted(destination));
    echo.outcome.address = icmp::Address::v4(destination);
    if (echo.outcome.status != platform::IP_REQ_TIMED_OUT) {
        const auto latency = latencyOf.find(dotted(destination));
        echo.due = now + (latency == latencyOf.end() ? 1 : latency->second);
    }
    pending_.push_back(std::move(echo));
    mostInFlight = std::max(mostInFlight, pending_.size());
    return true;
}

std::size_t FakeNetwork::IcmpCollectEchoes(platform::HANDLE, std::uint32_t waitMs, std::vector<void*>& settled)
{
    record("IcmpCollectEchoes");
    if (pending_.empty())
        return 0;
    const auto next = std::min_element(pending_.begin(), pending_.end(),
                                       [](const Pending& a, const Pending& b) { return a.due < b.due; });
    now = std::min(next->due, now + waitMs);
    const std::size_t before = settled.size();
    for (auto echo = pending_.end(); echo != pending_.begin();) {
        if ((--echo)->due > now)
            continue;
        platform::writeReply(echo->replyBuffer, echo->replySize, echo->outcome);
        settled.push_back(echo->context);
        echo = pending_.erase(echo);
    }
    return settled.size() - before;
}

std::optional<icmp::Address> FakeNetwork::FirstAddress(const char* name, icmp::Family family)
{
    record("FirstAddress");
    {
        std::lock_guard lock(mutex_);
        lookups.emplace_back(name);
    }
    const auto found = firstAddresses.find({name, family});
    return found == firstAddresses.end() ? std::nullopt : std::optional(found->second);
}

icmp::EchoTransport* FakeNetwork::ProcessEchoTransport()
{
    const bool open = handleToGive != nullptr && handleToGive != platform::INVALID_HANDLE_VALUE;
    return open ? &transport_ : nullptr;
}

icmp::Ticket FakeNetwork::Transport::start(const icmp::Address& destination, std::span<const std::uint8_t> data,
                                           std::uint32_t timeoutMs)
{
    network_.record("start");
    network_.echoes.push_back({network_.handleToGive, destination.v4NetworkOrder(), std::string(data.begin(), data.end()),
                               static_cast<std::uint16_t>(data.size()), nullptr, 0, timeoutMs});
    Pending echo{network_.now + timeoutMs, {}};
    echo.outcome.ticket = next_++;
    echo.outcome.status = network_.scriptedStatus(destination.text());
    echo.outcome.address = destination;
    if (echo.outcome.status != platform::IP_REQ_TIMED_OUT) {
        const auto latency = network_.latencyOf.find(destination.text());
        echo.due = network_.now + (latency == network_.latencyOf.end() ? 1 : latency->second);
        echo.outcome.roundTripMs = static_cast<std::uint32_t>(echo.due - network_.now);
        echo.outcome.ttl = 64;
        if (const auto us = network_.microsecondsOf.find(destination.text()); us != network_.microsecondsOf.end())
            echo.outcome.roundTripUsPastMs = us->second();
    }
    pending_.push_back(std::move(echo));
    network_.mostInFlight = std::max(network_.mostInFlight, pending_.size());
    return pending_.back().outcome.ticket;
}

void FakeNetwork::Transport::abandon(icmp::Ticket ticket)
{
    std::erase_if(pending_, [&](const Pending& echo) { return echo.outcome.ticket == ticket; });
}

std::optional<icmp::Clock::time_point> FakeNetwork::Transport::nextDeadline() const
{
    if (pending_.empty())
        return std::nullopt;
    const auto next = std::min_element(pending_.begin(), pending_.end(),
                                       [](const Pending& a, const Pending& b) { return a.due < b.due; });
    return icmp::Clock::time_point(std::chrono::milliseconds(next->due));
}

void FakeNetwork::Transport::collect(std::vector<icmp::Settled>& settled)
{
    network_.record("collect");
    for (auto echo = pending_.end(); echo != pending_.begin();) {
        if ((--echo)->due > network_.now)
            continue;
        settled.push_back(std::move(echo->outcome));
        echo = pending_.erase(echo);
    }
}

void FakeNetwork::Transport::wait(icmp::Clock::time_point until)
{
    const auto next = nextDeadline();
    if (!next)
        return;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until.time_since_epoch()).count();
    const auto due = static_cast<std::uint64_t>(next->time_since_epoch() / std::chrono::milliseconds(1));
    network_.now = std::max(network_.now, std::min(due, static_cast<std::uint64_t>(std::max<std::int64_t>(ms, 0))));
}

icmp::Settled FakeNetwork::Transport::echo(const icmp::Address& destination, std::span<const std::uint8_t> data,
                                           std::uint32_t timeoutMs)
{
    const icmp::Ticket ticket = start(destination, data, timeoutMs);
    for (;;) {
        collect(settled_);
        if (std::optional<icmp::Settled> mine = icmp::takeSettled(settled_, ticket))
            return *mine;
        wait(*nextDeadline());
    }
}
