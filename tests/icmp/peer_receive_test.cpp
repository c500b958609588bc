// The receive both ends of the echo helper's socket pair wait with: what
// comes while it asks without blocking, what comes after it has gone to
// sleep, the end of the stream, the socket's own timeout, and a pipe (the
// helper run by hand) all read as a blocking read would read them.

#include "icmp/peer_receive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <string>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

namespace icmp {
namespace {

using namespace std::chrono_literals;

TEST(PeerReceive, ReadsWhatABlockingReadWould)
{
    const struct {
        const char* what;
        bool pipe;
        std::chrono::microseconds writeAfter;  // negative: nothing is written
        ssize_t expected;
    } cases[] = {
        {"while it asks", false, peerSpin() / 5, 5},
        {"after it sleeps", false, peerSpin() + 20ms, 5},
        {"the end of the stream", false, -1us, 0},
        {"nothing within SO_RCVTIMEO", false, -1us, -1},
        {"a pipe", true, 10ms, 5},
    };
    for (const auto& c : cases) {
        int ends[2];
        ASSERT_EQ(c.pipe ? ::pipe(ends) : ::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        const timeval limit{0, 200 * 1000};
        ::setsockopt(ends[0], SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        std::thread peer([&] {
            if (c.writeAfter.count() < 0) {
                if (c.expected == 0)
                    ::shutdown(ends[1], SHUT_WR);
                return;
            }
            std::this_thread::sleep_for(c.writeAfter);
            EXPECT_EQ(::write(ends[1], "hello", 5), 5);
        });
        std::uint8_t into[16]{};
        errno = 0;
        const ssize_t got = receiveFromPeer(ends[0], into);
        const int error = errno;
        peer.join();
        EXPECT_EQ(got, c.expected) << c.what << ": " << std::strerror(error);
        EXPECT_EQ(std::string(into, into + std::max<ssize_t>(got, 0)), got == 5 ? "hello" : "") << c.what;
        EXPECT_TRUE(got >= 0 || error == EAGAIN) << c.what;
        ::close(ends[0]);
        ::close(ends[1]);
    }
}

}  // namespace
}  // namespace icmp
