#pragma once

// Runs a classic BPF program on bytes in the kernel itself, with no
// privilege: attached to one end of a datagram socket pair, it sees each
// datagram from its first byte (as a raw socket's sees the IPv4 header),
// and what it refuses never arrives, without a word to the sender.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include <linux/filter.h>
#include <sys/socket.h>
#include <unistd.h>

namespace packets {

class SocketFilter {
public:
    explicit SocketFilter(std::vector<sock_filter> code)
    {
        if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, ends_) != 0)
            throw std::runtime_error("socketpair");
        const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
        if (::setsockopt(ends_[1], SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0)
            throw std::runtime_error("the kernel refused the program");
    }
    ~SocketFilter()
    {
        ::close(ends_[0]);
        ::close(ends_[1]);
    }
    SocketFilter(const SocketFilter&) = delete;
    SocketFilter& operator=(const SocketFilter&) = delete;

    bool passes(std::span<const std::uint8_t> bytes)
    {
        if (::send(ends_[0], bytes.data(), bytes.size(), MSG_DONTWAIT) < 0)
            throw std::runtime_error("send to the filtered socket");
        return ::recv(ends_[1], buffer_.data(), buffer_.size(), MSG_DONTWAIT | MSG_TRUNC) >= 0;
    }

private:
    int ends_[2];
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(16);
};

}  // namespace packets
