#pragma once

#include "icmp/echo_transport.h"
#include "platform/net/network.h"

#include <cstdint>

namespace platform {

// Writes a settled echo as the ICMP echo interface hands it over: the
// ICMP_ECHO_REPLY record and the returned data behind it. The status is
// written whenever the buffer has room for it; data that does not fit turns
// the status into IP_BUF_TOO_SMALL. Returns the number of replies held (1
// for an answered echo, otherwise 0).
std::uint32_t writeReply(void* buffer, std::uint32_t size, const icmp::Settled& echo);

}  // namespace platform
