// What one host costs the probe on loopback, next to the least a program
// can do for one echo on a fresh socket. Targets are 127.x.y.z only.
//
//   probe_bench [hosts]      (default 5000)

#include "support/reference_echo.h"

#include "icmp/packet.h"
#include "icmp/echo_socket.h"
#include "probe/send_echo.h"
#include "probe/sockets.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <sys/socket.h>

namespace {

using namespace bench;

double microsecondsPerHost(Clock::duration total, int hosts)
{
    return std::chrono::duration<double, std::micro>(total).count() / hosts;
}

}  // namespace

int main(int argc, char** argv)
{
    const int hosts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    const auto socket = icmp::EchoSocket::open();
    if (!socket) {
        std::printf("probe_bench: no ICMP socket may be opened here (needs root or net.ipv4.ping_group_range)\n");
        return 0;
    }
    const bool raw = socket->kind() == icmp::SocketKind::Raw;
    const int type = raw ? SOCK_RAW : SOCK_DGRAM;

    std::vector<QString> texts;
    std::vector<std::uint32_t> addresses;
    for (int i = 0; i < hosts; ++i) {
        addresses.push_back(loopbackAddress(i));
        texts.push_back(dotted(addresses.back()));
    }

    // Both loops run twice, interleaved, and the better round counts: the
    // machine is shared and the first round warms caches and the resolver.
    Clock::duration best[2] = {Clock::duration::max(), Clock::duration::max()};
    int failures[2] = {0, 0};
    for (int round = 0; round < 2; ++round) {
        auto start = Clock::now();
        EchoReply reply{};
        for (int i = 0; i < hosts; ++i) {
            if (!StartSockets()) {
                ++failures[0];
                continue;
            }
            const QString address = ResolveHostName(texts[i]);
            if (SendEcho(address, "ECHO THIS", reply, 1000) != 0)
                ++failures[0];
            StopSockets();
        }
        best[0] = std::min(best[0], Clock::now() - start);

        start = Clock::now();
        for (int i = 0; i < hosts; ++i)
            if (!referenceEcho(type, addresses[i], static_cast<std::uint16_t>(i)))
                ++failures[1];
        best[1] = std::min(best[1], Clock::now() - start);
    }

    const double probe = microsecondsPerHost(best[0], hosts);
    const double reference = microsecondsPerHost(best[1], hosts);
    std::printf("probe_bench: %d distinct 127.x.y.z hosts, %s socket\n", hosts, raw ? "raw" : "datagram");
    std::printf("  StartSockets+ResolveHostName+SendEcho+StopSockets: %8.2f us/host (%d failed)\n", probe, failures[0]);
    std::printf("  reference loop (socket, send, receive, close):     %8.2f us/host (%d failed)\n", reference,
                failures[1]);
    std::printf("  ratio: %.2fx (target <= 1.30x)\n", probe / reference);
    return 0;
}
