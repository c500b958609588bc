#pragma once

namespace icmp {

// How many cores this process may run on (its affinity, not the machine's
// count): what decides whether a peer or a lane can run beside it.
unsigned usableCores();

}  // namespace icmp
