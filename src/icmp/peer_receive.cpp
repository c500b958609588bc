#include "icmp/peer_receive.h"

#include "icmp/cores.h"

#include <algorithm>
#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace icmp {

std::chrono::microseconds peerSpin()
{
    static const std::chrono::microseconds spin = usableCores() > 1 ? std::chrono::microseconds(50)
                                                                    : std::chrono::microseconds(0);
    return spin;
}

// A spin that found nothing says the peer did not run meanwhile: on a
// machine whose cores are busy with other work, every spin would then cost
// its whole length on both sides, for nothing (a serial run through the
// helper went from 8 to over 100 µs a host beside a compiler). So after
// one, the next receives sleep at once, twice as many each time up to
// kMostSkipped, and the first spin that finds something ends the skipping.
namespace {
constexpr unsigned kMostSkipped = 64;
}

ssize_t receiveFromPeer(int fd, std::span<std::uint8_t> into)
{
    thread_local unsigned skip = 0;      // receives left that sleep at once
    thread_local unsigned skipNext = 1;  // after the next spin that fails
    if (peerSpin().count() > 0 && skip > 0) {
        --skip;
    } else if (peerSpin().count() > 0) {
        const auto until = std::chrono::steady_clock::now() + peerSpin();
        do {
            const ssize_t got = ::recv(fd, into.data(), into.size(), MSG_DONTWAIT);
            if (got >= 0) {
                skipNext = 1;
                return got;
            }
            if (errno == ENOTSOCK)
                return ::read(fd, into.data(), into.size());
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                return got;
        } while (std::chrono::steady_clock::now() < until);
        skip = skipNext;
        skipNext = std::min(skipNext * 2, kMostSkipped);
    }
    return ::read(fd, into.data(), into.size());
}

}  // namespace icmp
