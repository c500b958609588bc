#include "icmp/cores.h"

#include <sched.h>

namespace icmp {

unsigned usableCores()
{
    cpu_set_t usable;
    CPU_ZERO(&usable);
    if (::sched_getaffinity(0, sizeof usable, &usable) != 0)
        return 1;
    return static_cast<unsigned>(CPU_COUNT(&usable));
}

}  // namespace icmp
