#pragma once

#include <chrono>
#include <cstdint>

namespace platform {

// The end of a wait given in unsigned 32-bit milliseconds. It is held as a
// 64-bit monotonic time point, and every wait is cut into slices that poll()
// can take, so no timeout can overflow into "forever" or "not at all".
class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    explicit Deadline(std::uint32_t milliseconds, Clock::time_point start = Clock::now())
        : end_(start + std::chrono::milliseconds(milliseconds))
    {
    }

    bool passed(Clock::time_point now = Clock::now()) const { return now >= end_; }

    // Milliseconds for the next poll(): what is left, rounded up so that
    // the wait never wakes just short of the end, and at most INT_MAX.
    int pollSlice(Clock::time_point now = Clock::now()) const { return pollSliceFor(end_ - now); }

    static int pollSliceFor(std::chrono::nanoseconds remaining);

private:
    Clock::time_point end_;
};

}  // namespace platform
