#pragma once

#include <algorithm>
#include <chrono>

namespace icmp {

using Clock = std::chrono::steady_clock;

// The kernel lets a wait run late by about a thousandth of its length, so a
// wait for an echo's deadline is cut into slices of at most this: the last
// one, which decides how late a timed-out echo returns, then stays within a
// tenth of a millisecond.
inline constexpr std::chrono::nanoseconds kLongestWaitSlice = std::chrono::milliseconds(100);

// How long the next wait may last: what is left, at most kLongestWaitSlice,
// never negative.
inline std::chrono::nanoseconds waitSlice(std::chrono::nanoseconds remaining)
{
    return std::clamp(remaining, std::chrono::nanoseconds::zero(), kLongestWaitSlice);
}

}  // namespace icmp
