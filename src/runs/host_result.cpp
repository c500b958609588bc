#include "runs/host_result.h"

#include "probe/sockets.h"

namespace runs {

HostResult ResultOf(int line, const QString& host, const QString& address, std::int32_t status, const EchoReply* reply)
{
    HostResult result;
    result.line = line;
    result.host = host;
    result.address = address;
    result.status = status;
    if (address.isEmpty() || status == -1) {
        result.address = QString();
        return result;
    }
    if (reply == nullptr || status == platform::IP_GENERAL_FAILURE || status == platform::IP_REQ_TIMED_OUT)
        return result;
    if (status == 0) {
        result.roundTripUs = std::uint64_t{reply->RoundTripTime} * 1000 + reply->Reserved;
        result.ttl = reply->Options.Ttl;
    } else if (reply->Address != 0) {
        result.router = DottedFromAddress(reply->Address);
    }
    return result;
}

}  // namespace runs
