#pragma once

// The lab's tests and benchmarks run only inside the client namespace of a
// lab that netlab.sh built. Anywhere else the lab's names would go to the
// machine's own resolver and its addresses to the machine's own network, so
// nothing may be resolved or sent until this check has passed.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace netlab {

// The empty text inside the lab's client namespace; otherwise why not.
inline std::string whyNotInLab()
{
    const char* netns = std::getenv("QUORVEX_LAB_NETNS");
    if (netns == nullptr || *netns == '\0')
        return "QUORVEX_LAB_NETNS is not set; run this through tests/netlab/netlab.sh run";
    // iproute2 pins each named namespace with a bind mount there.
    std::error_code error;
    if (!std::filesystem::equivalent("/proc/self/ns/net", std::filesystem::path("/var/run/netns") / netns, error))
        return "this process is not inside the network namespace " + std::string(netns);
    return {};
}

// "datagram" or "raw": the only kind of ICMP socket the lab lets us open.
inline std::string socketKind()
{
    const char* kind = std::getenv("QUORVEX_LAB_SOCKET");
    return kind ? kind : "";
}

}  // namespace netlab
