#pragma once

#include "platform/net/network.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// A scripted stand-in for sockets and ICMP echo. It resolves only the names
// it was given, answers each echo with the scripted status, and records
// every call in order. Address conversions are the real ones (pure text).
class FakeNetwork final : public platform::Network {
public:
    using Address = std::array<std::uint8_t, 4>;

    struct Echo {
        platform::HANDLE handle;
        std::uint32_t destination;
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
    platform::HANDLE handleToGive = reinterpret_cast<platform::HANDLE>(std::intptr_t{0x1000});
    std::int32_t echoStatus = platform::IP_SUCCESS;
    std::map<std::string, std::int32_t> statusOf;  // by dotted destination; echoStatus for the others
    std::function<void()> beforeEcho;
    bool echoWritesReply = true;

    // Record.
    std::vector<std::string> calls;  // operation names, in order
    std::vector<std::string> lookups;
    std::vector<Echo> echoes;
    std::vector<platform::HANDLE> closed;

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
    // Echoes started are answered as IcmpSendEcho answers them, and settle
    // in the order they were started.
    bool IcmpSendEcho2(platform::HANDLE handle, void* context, std::uint32_t destination, const void* requestData,
                       std::uint16_t requestSize, const platform::IP_OPTION_INFORMATION* requestOptions,
                       void* replyBuffer, std::uint32_t replySize, std::uint32_t timeout) override;
    std::size_t IcmpCollectEchoes(platform::HANDLE handle, std::uint32_t waitMs, std::vector<void*>& settled) override;

    std::uint16_t lastStartupVersion = 0;

private:
    std::vector<void*> settled_;
    std::vector<Address> entryAddresses_;
    std::vector<char*> entryList_;
    platform::HOSTENT entry_{};
    platform::ScopedFake<platform::Network> installed_{*this};
};
