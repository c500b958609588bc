#pragma once

// A receive from the other end of the echo helper's socket pair, used on
// both ends. In a batch run each side waits for the other about once per
// host, a few microseconds each time; a sleep and the wake-up after it cost
// more than that (on a virtual machine, many times more), and paid twice
// per host they made the helper path three times slower than the
// program's own socket. So while another core can run the peer, the
// receive asks again without blocking for a short while before it sleeps.

#include <chrono>
#include <cstdint>
#include <span>

#include <sys/types.h>

namespace icmp {

// How long a receive asks without blocking before it sleeps: about what
// the sleep and its wake-up cost, so that waiting this way never costs more
// than twice the best choice; zero when this process may use one core only,
// where the peer cannot run while this one asks.
std::chrono::microseconds peerSpin();

// Reads into the bytes given, blocking as the descriptor does (on a
// socket, SO_RCVTIMEO bounds it) once peerSpin() has passed without a
// byte, or at once for a while after such a spin; a pipe, as when the
// helper is run by hand, blocks at once. Its result and errno are read's.
ssize_t receiveFromPeer(int fd, std::span<std::uint8_t> into);

}  // namespace icmp
