#pragma once

#include "icmp/address.h"
#include "icmp/echo_transport.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace runs {

// The command line's runs' one way to the echo core: every call to the
// process's EchoTransport is made here, so that a change of the core's
// interface is met in one place. The platform's own checks stand in front
// of the transport as they stand in front of its ICMP handles.
class EchoLink {
public:
    struct Collected {
        void* context;
        icmp::Settled echo;
        int seq = 0;  // as Start was given it
    };

    // With waitWhereStarted, Start waits for each echo itself: one echo at
    // a time costs least over the caller's own socket on its own thread
    // (the transport's echo()), with no hand-over to another thread.
    explicit EchoLink(bool waitWhereStarted);
    // Whatever is still in flight is abandoned: its answer is never read.
    ~EchoLink();
    EchoLink(const EchoLink&) = delete;
    EchoLink& operator=(const EchoLink&) = delete;

    // Starts one echo of the runs' request data. The record when it settled
    // at once (no way to send, an address the platform refuses, or an echo
    // waited for where it started); nothing when it is in flight, and then
    // Collect hands the context and seq back once.
    std::optional<icmp::Settled> Start(const icmp::Address& destination, std::uint32_t timeoutMs, void* context,
                                       int seq = 0);
    // Waits at most `wait` for an echo to settle (not at all when none is in
    // flight) and appends every echo settled since the last collection.
    void Collect(icmp::Clock::duration wait, std::vector<Collected>& settled);
    std::size_t InFlight() const { return contexts_.size(); }

private:
    icmp::EchoTransport* transport_;
    const bool waitWhereStarted_;
    std::vector<std::uint8_t> data_;
    struct Context {
        void* context;
        int seq;
    };
    std::unordered_map<icmp::Ticket, Context> contexts_;
    std::vector<icmp::Settled> settled_;
};

// Who answered or reported the echo, as the core's record holds it; none
// for 0.0.0.0 or :: (no one). Beside EchoLink, so that the core's address types
// are met in one place.
std::optional<icmp::Address> SenderOf(const icmp::Settled& echo);

}  // namespace runs
