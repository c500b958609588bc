#pragma once

#include <string>

namespace echo_helper {

// Gives up every capability this process holds: effective, permitted,
// inheritable and ambient, and the bounding set as far as the kernel lets
// a process without CAP_SETPCAP; then forbids gaining any back through
// exec. Empty on success, otherwise what is still held.
std::string dropAllCapabilities();

}  // namespace echo_helper
