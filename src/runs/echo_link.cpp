#include "runs/echo_link.h"

#include "platform/ansi.h"
#include "platform/net/network.h"
#include "runs/ping_texts.h"

#include <algorithm>
#include <limits>

namespace runs {
namespace {

icmp::Settled failedAtOnce()
{
    icmp::Settled failed;
    failed.status = platform::IP_GENERAL_FAILURE;
    return failed;
}

}  // namespace

EchoLink::EchoLink(bool waitWhereStarted)
    : transport_(platform::ProcessEchoTransport()), waitWhereStarted_(waitWhereStarted)
{
    const QByteArray data = platform::toAnsi(kRequestData);
    data_.assign(data.begin(),
                 data.begin() + std::min<qsizetype>(data.size(), std::numeric_limits<std::uint16_t>::max()));
}

EchoLink::~EchoLink()
{
    for (const auto& [ticket, context] : contexts_)
        transport_->abandon(ticket);
}

std::optional<icmp::Settled> EchoLink::Start(const icmp::Address& destination, std::uint32_t timeoutMs, void* context,
                                             int seq)
{
    if (transport_ == nullptr)
        return failedAtOnce();
    // Linux delivers an echo to 0.0.0.0 or :: to this very machine, which
    // would answer for a host that was never asked.
    if (destination.unspecified())
        return failedAtOnce();
    if (waitWhereStarted_)
        return transport_->echo(destination, data_, timeoutMs);
    contexts_.emplace(transport_->start(destination, data_, timeoutMs), Context{context, seq});
    return std::nullopt;
}

void EchoLink::Collect(icmp::Clock::duration wait, std::vector<Collected>& settled)
{
    if (contexts_.empty())
        return;
    if (wait.count() > 0) {
        const auto until = icmp::Clock::now() + wait;
        transport_->wait(std::min(until, transport_->nextDeadline().value_or(until)));
    }
    transport_->collect(settled_);
    for (icmp::Settled& echo : settled_) {
        const auto found = contexts_.find(echo.ticket);
        if (found == contexts_.end())
            continue;
        settled.push_back({found->second.context, std::move(echo), found->second.seq});
        contexts_.erase(found);
    }
    settled_.clear();
}

std::optional<icmp::Address> SenderOf(const icmp::Settled& echo)
{
    if (echo.address.unspecified())
        return std::nullopt;
    return echo.address;
}

}  // namespace runs
