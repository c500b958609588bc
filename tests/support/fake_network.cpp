#include "support/fake_network.h"

#include "platform/net/icmp_packet.h"

int FakeNetwork::WSAStartup(std::uint16_t version, platform::WSADATA*)
{
    calls.push_back("WSAStartup");
    lastStartupVersion = version;
    return startupResult;
}

int FakeNetwork::WSACleanup()
{
    calls.push_back("WSACleanup");
    return cleanupResult;
}

const platform::HOSTENT* FakeNetwork::gethostbyname(const char* name)
{
    calls.push_back("gethostbyname");
    lookups.emplace_back(name);
    const auto found = hosts.find(name);
    if (found == hosts.end() || found->second.empty())
        return nullptr;
    entryAddresses_ = found->second;
    entryList_.clear();
    for (auto& address : entryAddresses_)
        entryList_.push_back(reinterpret_cast<char*>(address.data()));
    entryList_.push_back(nullptr);
    entry_ = platform::HOSTENT{nullptr, nullptr, 2, 4, entryList_.data()};
    return &entry_;
}

const char* FakeNetwork::inet_ntoa(platform::IN_ADDR address)
{
    calls.push_back("inet_ntoa");
    return platform::realImplementation<platform::Network>().inet_ntoa(address);
}

std::uint32_t FakeNetwork::inet_addr(const char* text)
{
    calls.push_back("inet_addr");
    return platform::realImplementation<platform::Network>().inet_addr(text);
}

platform::HANDLE FakeNetwork::IcmpCreateFile()
{
    calls.push_back("IcmpCreateFile");
    return handleToGive;
}

std::uint32_t FakeNetwork::IcmpSendEcho(platform::HANDLE handle, std::uint32_t destination, const void* requestData,
                                        std::uint16_t requestSize,
                                        const platform::IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                                        std::uint32_t replySize, std::uint32_t timeout)
{
    calls.push_back("IcmpSendEcho");
    echoes.push_back({handle, destination, std::string(static_cast<const char*>(requestData), requestSize),
                      requestSize, requestOptions, replySize, timeout});
    if (beforeEcho)
        beforeEcho();
    if (!echoWritesReply)
        return 0;
    const auto scripted = statusOf.find(platform::realImplementation<platform::Network>().inet_ntoa({destination}));
    platform::icmp::Outcome outcome;
    outcome.status = scripted == statusOf.end() ? echoStatus : scripted->second;
    outcome.address = destination;
    outcome.data = {static_cast<const std::uint8_t*>(requestData), requestSize};
    return platform::icmp::writeReply(replyBuffer, replySize, outcome);
}

bool FakeNetwork::IcmpCloseHandle(platform::HANDLE handle)
{
    calls.push_back("IcmpCloseHandle");
    closed.push_back(handle);
    return true;
}

bool FakeNetwork::IcmpSendEcho2(platform::HANDLE handle, void* context, std::uint32_t destination,
                                const void* requestData, std::uint16_t requestSize,
                                const platform::IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                                std::uint32_t replySize, std::uint32_t timeout)
{
    IcmpSendEcho(handle, destination, requestData, requestSize, requestOptions, replyBuffer, replySize, timeout);
    calls.back() = "IcmpSendEcho2";
    settled_.push_back(context);
    return true;
}

std::size_t FakeNetwork::IcmpCollectEchoes(platform::HANDLE, std::uint32_t, std::vector<void*>& settled)
{
    calls.push_back("IcmpCollectEchoes");
    const std::size_t count = settled_.size();
    settled.insert(settled.end(), settled_.begin(), settled_.end());
    settled_.clear();
    return count;
}
