#include "echo_helper/limits.h"

#include <algorithm>

namespace echo_helper {

namespace helper = icmp::helper;

bool withinUserBounds(const helper::Request& request)
{
    return request.payload.size() <= helper::kUserMostPayload && request.timeoutMs <= helper::kUserMostTimeoutMs;
}

Clock::time_point DestinationPace::reserve(const icmp::Address& destination, Clock::time_point now)
{
    // A sweep over many hosts leaves one entry per host; those whose burst
    // has come back are forgotten before the table grows past what one
    // burst of the program's could fill.
    if (due_.size() >= 4 * helper::kMostInFlight)
        std::erase_if(due_, [&](const auto& entry) { return entry.second <= now; });
    constexpr auto kBurst = helper::kUserInterval * static_cast<int>(helper::kUserBurst - 1);
    const auto entry = due_.try_emplace(destination, now).first;
    const Clock::time_point due = std::max(entry->second, now);
    entry->second = due + helper::kUserInterval;
    return std::max(now, due - kBurst);
}

}  // namespace echo_helper
