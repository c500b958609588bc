#pragma once

// The sockets and ICMP echo operations that the echo probe relies on, under
// the names the probe knows them by. Records keep the layouts the probe
// reads; multi-byte fields are little-endian except addresses, which are in
// network byte order. This header stays free of system networking headers.

#include "icmp/address.h"
#include "icmp/status.h"
#include "platform/seam.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace icmp {
class EchoTransport;
}

namespace platform {

using HANDLE = void*;
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// The value inet_addr gives for a text that is not an address.
inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

// Start-up record; nothing in it is read.
struct WSADATA {
    std::uint8_t bytes[404];
};
static_assert(sizeof(WSADATA) == 404);

// Host entry in the platform's native layout: the probe reads h_addr_list
// through its offset, so the field order matters, not the pointer width.
struct HOSTENT {
    char* h_name;
    char** h_aliases;
    std::int16_t h_addrtype;
    std::int16_t h_length;
    char** h_addr_list;
};

struct IN_ADDR {
    std::uint32_t S_addr;  // network byte order
};

// IP_OPTION_INFORMATION in its 32-bit layout.
struct IP_OPTION_INFORMATION {
    std::uint8_t Ttl;
    std::uint8_t Tos;
    std::uint8_t Flags;
    std::uint8_t OptionsSize;
    std::uint32_t OptionsData;
};
static_assert(sizeof(IP_OPTION_INFORMATION) == 8);

// ICMP_ECHO_REPLY in its 32-bit layout. Data holds the offset, from the
// start of the reply buffer, at which the returned data was put. Reserved,
// unused by the design, holds the microseconds past RoundTripTime (0 to
// 999), which the command line's JSON output reports.
struct ICMP_ECHO_REPLY {
    std::uint32_t Address;
    std::uint32_t Status;
    std::uint32_t RoundTripTime;
    std::uint16_t DataSize;
    std::uint16_t Reserved;
    std::uint32_t Data;
    IP_OPTION_INFORMATION Options;
};
static_assert(sizeof(ICMP_ECHO_REPLY) == 28);
static_assert(offsetof(ICMP_ECHO_REPLY, Status) == 4);
static_assert(offsetof(ICMP_ECHO_REPLY, Options) == 20);

// The ICMP echo interface's status values are the echo core's own.
using icmp::IP_BAD_ROUTE;
using icmp::IP_BUF_TOO_SMALL;
using icmp::IP_DEST_HOST_UNREACHABLE;
using icmp::IP_DEST_NET_UNREACHABLE;
using icmp::IP_DEST_PORT_UNREACHABLE;
using icmp::IP_DEST_PROT_UNREACHABLE;
using icmp::IP_GENERAL_FAILURE;
using icmp::IP_NO_RESOURCES;
using icmp::IP_PACKET_TOO_BIG;
using icmp::IP_PARAM_PROBLEM;
using icmp::IP_REQ_TIMED_OUT;
using icmp::IP_SOURCE_QUENCH;
using icmp::IP_SUCCESS;
using icmp::IP_TTL_EXPIRED_REASSEM;
using icmp::IP_TTL_EXPIRED_TRANSIT;

// Windows Sockets 1.1 and icmp.dll, as one seam so that a test scripts a
// whole echo with one fake.
class Network {
public:
    virtual ~Network() = default;

    // 0 when started; pairs with WSACleanup.
    virtual int WSAStartup(std::uint16_t version, WSADATA* data) = 0;
    // 0 when a start-up was ended; anything else is a failure.
    virtual int WSACleanup() = 0;
    // First IPv4 addresses of the name, valid until the next call on this
    // thread; null when the name does not resolve.
    virtual const HOSTENT* gethostbyname(const char* name) = 0;
    // Dotted text, valid until the next call on this thread.
    virtual const char* inet_ntoa(IN_ADDR address) = 0;
    virtual std::uint32_t inet_addr(const char* text) = 0;

    // A handle for one echo, or INVALID_HANDLE_VALUE.
    virtual HANDLE IcmpCreateFile() = 0;
    // Sends one echo and waits at most timeout ms. Whatever happens, the
    // Status of the reply record is written (when the buffer can hold one).
    // Returns the number of replies in the buffer.
    virtual std::uint32_t IcmpSendEcho(HANDLE handle, std::uint32_t destination, const void* requestData,
                                       std::uint16_t requestSize, const IP_OPTION_INFORMATION* requestOptions,
                                       void* replyBuffer, std::uint32_t replySize, std::uint32_t timeout) = 0;
    virtual bool IcmpCloseHandle(HANDLE handle) = 0;

    // The asynchronous form of IcmpSendEcho: the echo is started now and
    // settles later. True when it was started: its reply record is written
    // when it settles (an echo that fails at once settles at once) and
    // IcmpCollectEchoes hands its context back exactly once. False for a
    // handle that is not open: the record's Status is written at once and
    // the context is never handed back. The reply buffer must live until
    // the echo has been collected or the handle closed; closing the handle
    // abandons the echoes still in flight.
    virtual bool IcmpSendEcho2(HANDLE handle, void* context, std::uint32_t destination, const void* requestData,
                               std::uint16_t requestSize, const IP_OPTION_INFORMATION* requestOptions,
                               void* replyBuffer, std::uint32_t replySize, std::uint32_t timeout) = 0;
    // Stands in for the alertable wait in which the completions of started
    // echoes run: waits at most waitMs for an echo of the handle to settle
    // (not at all when one has settled already, or when none is in flight),
    // then appends the context of every echo that has settled since the
    // last collection. Returns how many were appended.
    virtual std::size_t IcmpCollectEchoes(HANDLE handle, std::uint32_t waitMs, std::vector<void*>& settled) = 0;

    // Beyond the design's interfaces: what the command line's runs use,
    // which need neither the reply record nor IPv4-only names.

    // The first address of the name in the family (getaddrinfo); none when
    // it has none. Safe on several threads at once.
    virtual std::optional<icmp::Address> FirstAddress(const char* name, icmp::Family family) = 0;
    // The process's one way to send echoes, the same the ICMP handles lease;
    // null when it has none. Called from one thread at a time, and never
    // while a handle's echo is in flight.
    virtual icmp::EchoTransport* ProcessEchoTransport() = 0;
};

inline int WSAStartup(std::uint16_t version, WSADATA* data) { return use<Network>().WSAStartup(version, data); }
inline int WSACleanup() { return use<Network>().WSACleanup(); }
inline const HOSTENT* gethostbyname(const char* name) { return use<Network>().gethostbyname(name); }
inline const char* inet_ntoa(IN_ADDR address) { return use<Network>().inet_ntoa(address); }
inline std::uint32_t inet_addr(const char* text) { return use<Network>().inet_addr(text); }
inline HANDLE IcmpCreateFile() { return use<Network>().IcmpCreateFile(); }
inline std::uint32_t IcmpSendEcho(HANDLE handle, std::uint32_t destination, const void* requestData,
                                  std::uint16_t requestSize, const IP_OPTION_INFORMATION* requestOptions,
                                  void* replyBuffer, std::uint32_t replySize, std::uint32_t timeout)
{
    return use<Network>().IcmpSendEcho(handle, destination, requestData, requestSize, requestOptions, replyBuffer,
                                       replySize, timeout);
}
inline bool IcmpCloseHandle(HANDLE handle) { return use<Network>().IcmpCloseHandle(handle); }
inline bool IcmpSendEcho2(HANDLE handle, void* context, std::uint32_t destination, const void* requestData,
                          std::uint16_t requestSize, const IP_OPTION_INFORMATION* requestOptions, void* replyBuffer,
                          std::uint32_t replySize, std::uint32_t timeout)
{
    return use<Network>().IcmpSendEcho2(handle, context, destination, requestData, requestSize, requestOptions,
                                        replyBuffer, replySize, timeout);
}
inline std::size_t IcmpCollectEchoes(HANDLE handle, std::uint32_t waitMs, std::vector<void*>& settled)
{
    return use<Network>().IcmpCollectEchoes(handle, waitMs, settled);
}

inline std::optional<icmp::Address> FirstAddress(const char* name, icmp::Family family)
{
    return use<Network>().FirstAddress(name, family);
}
inline icmp::EchoTransport* ProcessEchoTransport() { return use<Network>().ProcessEchoTransport(); }

// Owns one ICMP handle for one echo and closes it on every way out.
class IcmpHandle {
public:
    IcmpHandle() : handle_(IcmpCreateFile()) {}
    ~IcmpHandle()
    {
        if (valid())
            IcmpCloseHandle(handle_);
    }
    IcmpHandle(const IcmpHandle&) = delete;
    IcmpHandle& operator=(const IcmpHandle&) = delete;

    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace platform
