#include "icmp/peer_receive.h"

#include <cerrno>

#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace icmp {

std::chrono::microseconds peerSpin()
{
    static const std::chrono::microseconds spin = [] {
        cpu_set_t usable;
        CPU_ZERO(&usable);
        const bool several = ::sched_getaffinity(0, sizeof usable, &usable) == 0 && CPU_COUNT(&usable) > 1;
        return several ? std::chrono::microseconds(50) : std::chrono::microseconds(0);
    }();
    return spin;
}

ssize_t receiveFromPeer(int fd, std::span<std::uint8_t> into)
{
    if (peerSpin().count() > 0) {
        const auto until = std::chrono::steady_clock::now() + peerSpin();
        do {
            const ssize_t got = ::recv(fd, into.data(), into.size(), MSG_DONTWAIT);
            if (got >= 0)
                return got;
            if (errno == ENOTSOCK)
                break;
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return got;
        } while (std::chrono::steady_clock::now() < until);
    }
    return ::read(fd, into.data(), into.size());
}

}  // namespace icmp
