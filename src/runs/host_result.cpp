#include "runs/host_result.h"

#include "probe/sockets.h"
#include "runs/echo_link.h"

namespace runs {
namespace {

// What a record tells beyond the status: nothing for a failure before the
// echo went out or one that no packet answered.
bool carriesAnswer(std::int32_t status)
{
    return status != platform::IP_GENERAL_FAILURE && status != platform::IP_REQ_TIMED_OUT;
}

}  // namespace

ResultAddress::ResultAddress(const char* text) : std::optional<icmp::Address>(icmp::Address::parse(text)) {}

HostResult ResultOf(int line, const QString& host, const QString& address, std::int32_t status, const EchoReply* reply)
{
    HostResult result;
    result.line = line;
    result.host = host;
    result.status = status;
    if (address.isEmpty() || status == -1)
        return result;
    result.address = icmp::Address::parse(address.toStdString());
    if (reply == nullptr || !carriesAnswer(status))
        return result;
    if (status == 0) {
        result.roundTripUs = std::uint64_t{reply->RoundTripTime} * 1000 + reply->Reserved;
        result.ttl = reply->Options.Ttl;
    } else if (reply->Address != 0) {
        result.router = icmp::Address::v4(reply->Address);
    }
    return result;
}

HostResult ResultOf(int line, const QString& host, const icmp::Address& address, const icmp::Settled& echo)
{
    HostResult result;
    result.line = line;
    result.host = host;
    result.status = echo.status;
    result.address = address;
    if (!carriesAnswer(echo.status))
        return result;
    if (echo.status == 0) {
        result.roundTripUs = std::uint64_t{echo.roundTripMs} * 1000 + echo.roundTripUsPastMs;
        result.ttl = echo.ttl;
    } else {
        result.router = SenderOf(echo);
    }
    return result;
}

}  // namespace runs
