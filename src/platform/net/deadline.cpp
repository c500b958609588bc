#include "platform/net/deadline.h"

#include <algorithm>

namespace platform {

std::chrono::nanoseconds Deadline::sliceFor(std::chrono::nanoseconds remaining)
{
    return std::clamp(remaining, std::chrono::nanoseconds::zero(), kLongestSlice);
}

}  // namespace platform
