#pragma once

#include <string>

// Network namespaces of a test's own, so that tests of real ICMP sockets
// need no root: an ordinary user first becomes root of a user namespace of
// their own, where the kernel allows that, and the network namespace made
// then belongs to it, raw sockets, sysctls and routes included. Nothing sent
// in it reaches the machine's own network.
namespace private_network {

// Moves this process into a fresh network namespace with loopback up, in
// which its group may open ICMP datagram sockets. Empty when done, else why
// it could not be. Call it before the process starts a thread.
std::string enter();

// True under CI, where a test that cannot get its namespace fails instead
// of skipping.
bool required();

}  // namespace private_network
