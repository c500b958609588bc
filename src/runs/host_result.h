#pragma once

#include "probe/echo_reply.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace runs {

// A host's verdict as a script reads it: what the runs know of one host
// once its echo has settled.
struct HostResult {
    int line = 0;                              // in the list, from 1; 0 for the manual ping, which has none
    QString host;                              // as the run used it, one character a byte
    QString address;                           // dotted, as pinged; empty when the name did not resolve
    std::int32_t status = 0;                   // the echo's status, 0 when it answered
    std::optional<std::uint64_t> roundTripUs;  // answered only
    std::optional<std::uint8_t> ttl;           // of the answer
    QString router;                            // dotted: who sent the ICMP error; empty for none
};

// The result of one echo that SendEcho or EchoesInFlight judged into the
// reply record; null when the echo settled before the record was written.
// The record is read only for an answer or an ICMP error, since for a
// failure before the echo went out it may still hold an earlier host's.
HostResult ResultOf(int line, const QString& host, const QString& address, std::int32_t status, const EchoReply* reply);

}  // namespace runs
