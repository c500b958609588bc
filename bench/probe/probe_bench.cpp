// What one host costs the probe on loopback, next to the least a program
// can do for one echo on a fresh socket. Targets are 127.x.y.z only.
//
//   probe_bench [hosts]      (default 5000)

#include "platform/net/icmp_packet.h"
#include "platform/net/icmp_socket.h"
#include "probe/send_echo.h"
#include "probe/sockets.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <netinet/in.h>
#include <netinet/ip_icmp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

std::uint32_t loopbackAddress(int i)
{
    const std::uint8_t bytes[4] = {127, static_cast<std::uint8_t>(1 + i / 65536 % 250),
                                   static_cast<std::uint8_t>(i / 256 % 256), static_cast<std::uint8_t>(1 + i % 254)};
    std::uint32_t value;
    std::memcpy(&value, bytes, 4);
    return value;
}

QString dotted(std::uint32_t address)
{
    const auto* b = reinterpret_cast<const std::uint8_t*>(&address);
    return QString("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

// The reference: open, send, wait for the matching reply, close.
bool referenceEcho(int type, std::uint32_t address, std::uint16_t sequence)
{
    const int fd = ::socket(AF_INET, type, IPPROTO_ICMP);
    if (fd < 0)
        return false;
    // The request bytes are built as the probe builds them: the comparison
    // is about everything around them.
    const std::uint8_t data[] = {'E', 'C', 'H', 'O', ' ', 'T', 'H', 'I', 'S'};
    const auto packet = platform::icmp::buildEchoRequest(0x1234, sequence, data);
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

double microsecondsPerHost(Clock::duration total, int hosts)
{
    return std::chrono::duration<double, std::micro>(total).count() / hosts;
}

}  // namespace

int main(int argc, char** argv)
{
    const int hosts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5000;
    const auto socket = platform::icmp::EchoSocket::open();
    if (!socket) {
        std::printf("probe_bench: no ICMP socket may be opened here (needs root or net.ipv4.ping_group_range)\n");
        return 0;
    }
    const bool raw = socket->kind() == platform::icmp::SocketKind::Raw;
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
    std::printf("  StartSockets+ResolveHostName+SendEcho+StopSockets: %8.2f us/host (%d failed)\n", probe,
                failures[0]);
    std::printf("  reference loop (socket, send, receive, close):     %8.2f us/host (%d failed)\n", reference,
                failures[1]);
    std::printf("  ratio: %.2fx (target <= 1.30x)\n", probe / reference);
    return 0;
}
