// Floods one address with ICMP that is none of its echoes' answers: echo
// replies and errors quoting echo requests, under random identifiers, at
// some tens of thousands a second, until it is killed. Another machine's
// traffic, for the tests that a run beside it writes no false line.
//   lab_flood ADDRESS, inside a lab namespace that is not the client's
#include "lab_client.h"
#include "support/packets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

int main(int argc, char** argv)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    if (argc != 2 || ::inet_pton(AF_INET, argv[1], &to.sin_addr) != 1 || !netlab::whyNotInLab().empty()) {
        std::fprintf(stderr, "lab_flood: ADDRESS, inside a lab namespace\n");
        return 2;
    }
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) {
        std::perror("lab_flood: raw socket");
        return 1;
    }
    std::mt19937 random{std::random_device{}()};
    auto number = [&] { return static_cast<std::uint16_t>(random()); };
    // The errors quote a request from the flooded address to a lab host.
    const std::uint32_t quotedTo = htonl(0xCB00710Au);  // 203.0.113.10
    const std::uint8_t errorTypes[] = {3, 11, 12, 4};
    for (std::size_t sent = 0;;) {
        packets::Bytes message;
        if (sent % 2 == 0) {
            message = packets::join({packets::icmpHeader(0, 0, number(), number()), packets::Bytes(56, 0x5A)});
        } else {
            const std::uint8_t type = errorTypes[sent / 2 % 4];
            message = packets::join({packets::icmpHeader(type, 1, 0, 0),
                                     packets::ipv4Header(64, to.sin_addr.s_addr, quotedTo),
                                     packets::icmpHeader(8, 0, number(), number())});
        }
        packets::putChecksum(message, 0);
        ::sendto(fd, message.data(), message.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        // Paced, so that on two cores the flood leaves the run a core.
        if (++sent % 400 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}
