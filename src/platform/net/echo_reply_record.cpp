#include "platform/net/echo_reply_record.h"

#include <algorithm>
#include <cstring>

namespace platform {

std::uint32_t writeReply(void* buffer, std::uint32_t size, const icmp::Settled& echo)
{
    if (buffer == nullptr || size < offsetof(ICMP_ECHO_REPLY, Status) + sizeof(ICMP_ECHO_REPLY::Status))
        return 0;
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (size < sizeof(ICMP_ECHO_REPLY)) {
        const std::uint32_t status = IP_BUF_TOO_SMALL;
        std::memcpy(bytes + offsetof(ICMP_ECHO_REPLY, Status), &status, sizeof status);
        return 0;
    }
    ICMP_ECHO_REPLY reply{};
    // The record is IPv4 only.
    reply.Address = echo.address.v4NetworkOrder();
    reply.Status = static_cast<std::uint32_t>(echo.status);
    reply.RoundTripTime = echo.roundTripMs;
    reply.Reserved = echo.roundTripUsPastMs;
    reply.Data = sizeof(ICMP_ECHO_REPLY);
    reply.Options.Ttl = echo.ttl;
    const bool answered = echo.status == IP_SUCCESS;
    if (answered && echo.data.size() > size - sizeof(ICMP_ECHO_REPLY)) {
        reply.Status = IP_BUF_TOO_SMALL;
    } else if (answered) {
        reply.DataSize = static_cast<std::uint16_t>(echo.data.size());
        std::copy(echo.data.begin(), echo.data.end(), bytes + sizeof(ICMP_ECHO_REPLY));
    }
    std::memcpy(bytes, &reply, sizeof reply);
    return reply.Status == IP_SUCCESS ? 1 : 0;
}

}  // namespace platform
