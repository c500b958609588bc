// Floods each ADDRESS with ICMP or ICMPv6 that answers none of its echoes
// (echo replies and errors quoting echo requests, under random identifiers)
// at some tens of thousands a second until it is killed: another host's
// traffic.
//   lab_flood ADDRESS..., inside a lab namespace that is not the client's
#include "lab_client.h"
#include "support/packets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

namespace {

struct Flooded {
    icmp::Address address;
    int fd = -1;
    sockaddr_storage to{};
    socklen_t length = 0;
};

std::optional<Flooded> open(const char* text)
{
    const std::optional<icmp::Address> address = icmp::Address::parse(text);
    if (!address)
        return std::nullopt;
    Flooded flooded;
    flooded.address = *address;
    if (address->isV6()) {
        sockaddr_in6 to{};
        to.sin6_family = AF_INET6;
        std::memcpy(&to.sin6_addr, address->bytes().data(), 16);
        std::memcpy(&flooded.to, &to, flooded.length = sizeof to);
        flooded.fd = ::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMPV6);  // the kernel sums ICMPv6
    } else {
        const sockaddr_in to{AF_INET, 0, {address->v4NetworkOrder()}, {}};
        std::memcpy(&flooded.to, &to, flooded.length = sizeof to);
        flooded.fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    }
    return flooded.fd < 0 ? std::nullopt : std::optional(flooded);
}

// An error quotes a request from the flooded address to the lab's
// answering host of its family.
packets::Bytes message(const Flooded& flooded, std::size_t sent, std::mt19937& random)
{
    using namespace icmp;
    const bool v6 = flooded.address.isV6();
    const std::uint8_t types4[] = {0, 3, 0, 11, 0, 12, 0, 4};
    const std::uint8_t types6[] = {129, 1, 129, 3, 129, 4, 129, 1};
    const std::uint8_t type = (v6 ? types6 : types4)[sent % 8];
    if (type == icmp_header::kEchoReply || type == icmp6_header::kEchoReply)
        return packets::join({packets::icmpHeader(type, 0, random(), random()), packets::Bytes(56, 0x5A)});
    const std::uint8_t request = v6 ? icmp6_header::kEchoRequest : icmp_header::kEchoRequest;
    packets::Bytes quoted = v6 ? packets::ipv6Header(flooded.address, packets::v6("2001:db8:10::10"))
                               : packets::ipv4Header(64, flooded.address.v4NetworkOrder(), htonl(0xCB00710A));
    return packets::join(
        {packets::icmpHeader(type, 1, 0, 0), quoted, packets::icmpHeader(request, 0, random(), random())});
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<Flooded> flooded;
    for (int i = 1; i < argc; ++i)
        if (const std::optional<Flooded> one = open(argv[i]))
            flooded.push_back(*one);
    if (argc < 2 || flooded.size() != static_cast<std::size_t>(argc - 1) || !netlab::whyNotInLab().empty()) {
        std::fprintf(stderr, "lab_flood: ADDRESS..., as root inside a lab namespace\n");
        return 2;
    }
    std::mt19937 random{std::random_device{}()};
    for (std::size_t sent = 0;; ++sent) {
        const Flooded& to = flooded[sent % flooded.size()];
        packets::Bytes bytes = message(to, sent / flooded.size(), random);
        if (to.address.isV4())
            packets::putChecksum(bytes, 0);
        ::sendto(to.fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to.to), to.length);
        // Paced, so that on two cores the flood leaves the run a core.
        if (sent % 400 == 399)
            ::usleep(10 * 1000);
    }
}
