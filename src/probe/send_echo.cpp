#include "probe/send_echo.h"

#include "platform/ansi.h"
#include "platform/net/network.h"

#include <algorithm>
#include <limits>

std::int32_t SendEcho(const QString& address, const QString& requestData, EchoReply& reply, std::int32_t timeout)
{
    const std::uint32_t destination = platform::inet_addr(platform::toAnsi(address).constData());
    if (destination == platform::kInaddrNone)
        return -1;

    // A handle that could not be opened is a failed echo, never an answer.
    const platform::IcmpHandle handle;
    if (!handle.valid())
        return platform::IP_GENERAL_FAILURE;

    const QByteArray data = platform::toAnsi(requestData);
    const auto size =
        static_cast<std::uint16_t>(std::min<qsizetype>(data.size(), std::numeric_limits<std::uint16_t>::max()));
    platform::IcmpSendEcho(handle.get(), destination, data.constData(), size, nullptr, &reply, sizeof reply,
                           static_cast<std::uint32_t>(timeout));
    return reply.Status;
}
