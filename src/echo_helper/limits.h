#pragma once

#include "icmp/address.h"
#include "icmp/helper_protocol.h"

#include <chrono>
#include <cstdint>
#include <unordered_map>

namespace echo_helper {

using Clock = std::chrono::steady_clock;

// Whether a caller that is not root may ask this at all: the payload and
// the timeout within what Quorvex itself sends.
bool withinUserBounds(const icmp::helper::Request& request);

// The pace of echoes per destination address, of either family, for a
// caller that is not root: a
// token bucket (kUserBurst echoes at once, then one per kUserInterval),
// kept as the time each destination's next echo is due in a steady
// stream, so that a destination whose bucket is full again needs no entry.
class DestinationPace {
public:
    // When an echo to the destination asked now may go; it is counted.
    Clock::time_point reserve(const icmp::Address& destination, Clock::time_point now);

private:
    std::unordered_map<icmp::Address, Clock::time_point> due_;
};

}  // namespace echo_helper
