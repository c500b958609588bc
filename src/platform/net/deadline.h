#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

// The end of a wait given in unsigned 32-bit milliseconds, held as a 64-bit
// monotonic time point, so that no timeout can overflow into "forever" or
// "not at all". The wait itself is cut into slices: the kernel lets a wait
// run late by about a thousandth of its length, and with short slices the
// last one, which decides how late a timed-out echo returns, stays within a
// tenth of a millisecond.
class Deadline {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::nanoseconds kLongestSlice = std::chrono::milliseconds(100);

    explicit Deadline(std::uint32_t milliseconds, Clock::time_point start = Clock::now())
        : end_(start + std::chrono::milliseconds(milliseconds))
    {
    }

    bool passed(Clock::time_point now = Clock::now()) const { return now >= end_; }

    // How long the next wait may last: what is left, at most kLongestSlice,
    // never negative.
    std::chrono::nanoseconds slice(Clock::time_point now = Clock::now()) const { return sliceFor(end_ - now); }

    static std::chrono::nanoseconds sliceFor(std::chrono::nanoseconds remaining);

private:
    Clock::time_point end_;
};

}  // namespace platform
