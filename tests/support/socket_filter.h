#pragma once

// Runs a classic BPF program on bytes in the kernel itself, with no
// privilege: attached to one end of a datagram socket pair, it sees each
// datagram from its first byte (as a raw socket's sees the IPv4 header),
// and what it refuses never arrives. A program the kernel will not attach
// refuses everything, which any case that should pass shows.

#include <cstdint>
#include <span>
#include <vector>

#include <linux/filter.h>
#include <sys/socket.h>
#include <unistd.h>

namespace packets {

inline bool filterPasses(std::vector<sock_filter> code, std::span<const std::uint8_t> bytes)
{
    const sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    int ends[2] = {-1, -1};
    std::uint8_t first;
    const bool passes = ::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0, ends) == 0 &&
                        ::setsockopt(ends[1], SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0 &&
                        ::send(ends[0], bytes.data(), bytes.size(), MSG_DONTWAIT) >= 0 &&
                        ::recv(ends[1], &first, 1, MSG_DONTWAIT | MSG_TRUNC) >= 0;
    ::close(ends[0]);
    ::close(ends[1]);
    return passes;
}

}  // namespace packets
