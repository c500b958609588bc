#include "probe/echoes_in_flight.h"

#include "platform/ansi.h"

#include <algorithm>
#include <limits>

std::optional<std::int32_t> EchoesInFlight::Start(const QString& address, const QString& requestData,
                                                  EchoReply& reply, std::int32_t timeout, void* context)
{
    const std::uint32_t destination = platform::inet_addr(platform::toAnsi(address).constData());
    if (destination == platform::kInaddrNone)
        return -1;
    if (!handle_.valid())
        return platform::IP_GENERAL_FAILURE;

    const QByteArray data = platform::toAnsi(requestData);
    const auto size =
        static_cast<std::uint16_t>(std::min<qsizetype>(data.size(), std::numeric_limits<std::uint16_t>::max()));
    if (!platform::IcmpSendEcho2(handle_.get(), context, destination, data.constData(), size, nullptr, &reply,
                                 sizeof reply, static_cast<std::uint32_t>(timeout)))
        return reply.Status;
    ++inFlight_;
    return std::nullopt;
}

void EchoesInFlight::Collect(std::uint32_t waitMs, std::vector<void*>& settled)
{
    if (inFlight_ == 0)
        return;
    const std::size_t collected = platform::IcmpCollectEchoes(handle_.get(), waitMs, settled);
    inFlight_ -= std::min(collected, inFlight_);
}
