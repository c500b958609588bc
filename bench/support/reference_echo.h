#pragma once

// What the benchmarks measure against: distinct loopback hosts, and the
// least a program can do for one echo on a fresh socket.

#include "icmp/packet.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <cstring>

#include <netinet/in.h>
#include <linux/icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

using Clock = std::chrono::steady_clock;

// The i-th of many distinct addresses in 127.0.0.0/8, never 127.0.0.0/16.
inline std::uint32_t loopbackAddress(int i)
{
    const std::uint8_t bytes[4] = {127, static_cast<std::uint8_t>(1 + i / 65536 % 250),
                                   static_cast<std::uint8_t>(i / 256 % 256), static_cast<std::uint8_t>(1 + i % 254)};
    std::uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

inline QString dotted(std::uint32_t address)
{
    const auto* b = reinterpret_cast<const std::uint8_t*>(&address);
    return QString("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

// The reference: open, send, wait for the matching reply, close.
inline bool referenceEcho(int type, std::uint32_t address, std::uint16_t sequence)
{
    const int fd = ::socket(AF_INET, type, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    // The request bytes are built as the probe builds them: the comparison
    // is about everything around them.
    const std::uint8_t data[] = {'E', 'C', 'H', 'O', ' ', 'T', 'H', 'I', 'S'};
    const auto packet = icmp::buildEchoRequest(0x1234, sequence, data);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    bool answered = false;
    if (::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) > 0) {
        std::uint8_t buffer[1500];
        pollfd watch{fd, POLLIN, 0};
        while (!answered && ::poll(&watch, 1, 1000) > 0) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            const std::size_t skip = type == SOCK_RAW ? (buffer[0] & 0x0F) * 4u : 0;
            answered = n >= ssize_t(skip + 8) && buffer[skip] == ICMP_ECHOREPLY &&
                       buffer[skip + 6] == std::uint8_t(sequence >> 8) && buffer[skip + 7] == std::uint8_t(sequence);
        }
    }
    ::close(fd);
    return answered;
}

// The floor: one socket kept for every echo, one send and one blocking
// receive per host, as a C loop would do it.
class FloorLoop {
public:
    explicit FloorLoop(int type) : type_(type), fd_(::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP))
    {
        const timeval second{1, 0};  // a lost answer fails its echo instead of stopping the loop
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &second, sizeof second);
    }
    ~FloorLoop()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FloorLoop(const FloorLoop&) = delete;
    FloorLoop& operator=(const FloorLoop&) = delete;

    bool echo(std::uint32_t address, std::uint16_t sequence)
    {
        const std::uint8_t data[] = {'E', 'C', 'H', 'O', ' ', 'T', 'H', 'I', 'S'};
        const auto packet = icmp::buildEchoRequest(0x4321, sequence, data);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = address;
        if (::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) <= 0)
            return false;
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer_, sizeof buffer_, 0);
            if (n < 0)
                return false;
            const std::size_t skip = type_ == SOCK_RAW ? (buffer_[0] & 0x0F) * 4u : 0;
            if (n >= ssize_t(skip + 8) && buffer_[skip] == ICMP_ECHOREPLY &&
                buffer_[skip + 6] == std::uint8_t(sequence >> 8) && buffer_[skip + 7] == std::uint8_t(sequence))
                return true;
        }
    }

private:
    int type_;
    int fd_;
    std::uint8_t buffer_[1500];
};

}  // namespace bench
