#include "platform/deadline.h"

#include <climits>

namespace platform {

int Deadline::pollSliceFor(std::chrono::nanoseconds remaining)
{
    if (remaining <= std::chrono::nanoseconds::zero())
        return 0;
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(remaining).count();
    return milliseconds > INT_MAX ? INT_MAX : static_cast<int>(milliseconds);
}

}  // namespace platform
