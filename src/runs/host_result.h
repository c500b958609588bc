#pragma once

#include "icmp/address.h"
#include "icmp/echo_transport.h"
#include "probe/echo_reply.h"
#include "runs/echo_statistics.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace runs {

// An address in a result, or none. A table of results may spell it as
// text: numeric only, and "" for none.
class ResultAddress : public std::optional<icmp::Address> {
public:
    using std::optional<icmp::Address>::optional;
    ResultAddress(const std::optional<icmp::Address>& address) : std::optional<icmp::Address>(address) {}
    ResultAddress(const char* text);
};

// A host's verdict as a script reads it: what the runs know of one host
// once its echo has settled.
struct HostResult {
    int line = 0;                              // in the list, from 1; 0 for the manual ping, which has none
    QString host;                              // as the run used it, one character a byte
    ResultAddress address;                     // as pinged; none when the name did not resolve
    std::int32_t status = 0;                   // the echo's status, 0 when it answered
    std::optional<std::uint64_t> roundTripUs;  // answered only
    std::optional<std::uint8_t> ttl;           // of the answer
    ResultAddress router;                      // who sent the ICMP error; none for none
    // A count run's host: what its echoes came to. The fields above are
    // then its last answer's, or its last echo's when none was answered.
    std::optional<EchoStatistics> echoes = std::nullopt;
    std::int32_t lostStatus = 0;  // of its last echo lost, when it answered
};

// The result of one echo that SendEcho judged into the reply record, to
// the dotted address; null when the echo settled before the record was
// written. The record is read only for an answer or an ICMP error, since
// for a failure before the echo went out it may still hold an earlier
// host's.
HostResult ResultOf(int line, const QString& host, const QString& address, std::int32_t status, const EchoReply* reply);

// The same from the echo core's own record, as the command line's runs
// have it.
HostResult ResultOf(int line, const QString& host, const icmp::Address& address, const icmp::Settled& echo);

}  // namespace runs
