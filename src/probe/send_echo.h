#pragma once

#include "probe/echo_reply.h"

#include <QString>

#include <cstdint>

// Sends one ICMP echo with the request data to the dotted IPv4 address and
// returns its status: 0 when the host answered, -1 when the text is not an
// address, otherwise the IP_* status that the reply record holds.
std::int32_t SendEcho(const QString& address, const QString& requestData, EchoReply& reply, std::int32_t timeout);
