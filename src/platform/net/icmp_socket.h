#pragma once

#include "platform/net/icmp_packet.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace platform::icmp {

enum class SocketKind { Datagram, Raw };

// One ICMP socket for one echo. A datagram ("ping") socket is preferred, as
// it needs no privilege where ping_group_range allows it; a raw socket
// (CAP_NET_RAW) is the fall-back.
class EchoSocket {
public:
    // Null when neither kind may be opened.
    static std::unique_ptr<EchoSocket> open();
    static std::unique_ptr<EchoSocket> open(SocketKind kind);

    ~EchoSocket();
    EchoSocket(const EchoSocket&) = delete;
    EchoSocket& operator=(const EchoSocket&) = delete;

    SocketKind kind() const { return kind_; }

    // Sends one echo request and waits for what answers it until the
    // timeout has passed. The outcome's data lives until the next echo.
    Outcome echo(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs);

private:
    EchoSocket(int fd, SocketKind kind) : fd_(fd), kind_(kind) {}

    int fd_;
    SocketKind kind_;
    std::array<std::uint8_t, 65536> buffer_;
};

}  // namespace platform::icmp
