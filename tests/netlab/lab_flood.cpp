// Floods ADDRESS with ICMP that answers none of its echoes (echo replies and
// errors quoting echo requests, under random identifiers) at some tens of
// thousands a second until it is killed: another host's traffic.
//   lab_flood ADDRESS, inside a lab namespace that is not the client's
#include "lab_client.h"
#include "support/packets.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <random>

int main(int argc, char** argv)
{
    sockaddr_in to{AF_INET, 0, {}, {}};
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (argc != 2 || ::inet_pton(AF_INET, argv[1], &to.sin_addr) != 1 || !netlab::whyNotInLab().empty() || fd < 0) {
        std::fprintf(stderr, "lab_flood: ADDRESS, as root inside a lab namespace\n");
        return 2;
    }
    std::mt19937 random{std::random_device{}()};
    const std::uint8_t types[] = {0, 3, 0, 11, 0, 12, 0, 4};
    for (std::size_t sent = 0;; ++sent) {
        const std::uint8_t type = types[sent % 8];
        // An error quotes a request from ADDRESS to a lab host (203.0.113.10).
        packets::Bytes message =
            type == 0 ? packets::join({packets::icmpHeader(0, 0, random(), random()), packets::Bytes(56, 0x5A)})
                      : packets::join({packets::icmpHeader(type, 1, 0, 0),
                                       packets::ipv4Header(64, to.sin_addr.s_addr, htonl(0xCB00710A)),
                                       packets::icmpHeader(8, 0, random(), random())});
        packets::putChecksum(message, 0);
        ::sendto(fd, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        // Paced, so that on two cores the flood leaves the run a core.
        if (sent % 400 == 399)
            ::usleep(10 * 1000);
    }
}
