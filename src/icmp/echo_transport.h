#pragma once

#include "icmp/address.h"
#include "icmp/wait_slice.h"

#include <cstddef>
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace icmp {

using Ticket = std::uint64_t;

// What one echo came to: the one record of a settled echo, from the socket
// that judged it (or the helper that asked for it) to the caller.
struct Settled {
    Ticket ticket = 0;
    std::int32_t status = 0;  // an IP_* value
    Address address;          // the host that answered, or the router that reported
    std::uint32_t roundTripMs = 0;
    std::uint8_t ttl = 0;
    std::vector<std::uint8_t> data;  // the echoed data of an answer
    // 0 to 999: the round trip is roundTripMs and this many microseconds.
    // Last, so that records written as lists of values before it still mean
    // what they did.
    std::uint16_t roundTripUsPastMs = 0;
};

// A way to send ICMP echoes with any number in flight: the process's own
// socket (EchoSocket) or its echo helper (EchoHelper). Both do no waiting of
// their own but in wait() and echo(), so that a caller's loop drives them:
// start, then collect, waiting in between up to nextDeadline(). Not safe to
// call from several threads at once.
class EchoTransport {
public:
    virtual ~EchoTransport() = default;

    // Sends one echo request. An echo that cannot be sent is settled at
    // once; collect() hands it over like any other.
    virtual Ticket start(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs) = 0;
    // Its answer, whenever it comes, is dropped, and it is never handed over.
    virtual void abandon(Ticket ticket) = 0;

    virtual std::size_t inFlight() const = 0;
    // The earliest deadline of the echoes in flight.
    virtual std::optional<Clock::time_point> nextDeadline() const = 0;

    // Without waiting: takes in whatever has come back, settles the echoes
    // past their deadline, and appends whatever has settled since the last
    // collection.
    virtual void collect(std::vector<Settled>& settled) = 0;
    // Waits until something comes back or until the time given, whichever
    // comes first.
    virtual void wait(Clock::time_point until) = 0;

    // Starts an echo and waits for this one; other echoes in flight go on
    // and are collected as usual.
    virtual Settled echo(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs) = 0;
};

// Takes the record of the echo given out of the list, if it has settled.
inline std::optional<Settled> takeSettled(std::vector<Settled>& settled, Ticket ticket)
{
    const auto found =
        std::find_if(settled.begin(), settled.end(), [&](const Settled& echo) { return echo.ticket == ticket; });
    if (found == settled.end())
        return std::nullopt;
    Settled taken = std::move(*found);
    settled.erase(found);
    return taken;
}

// The earliest deadline among echoes in flight, kept in a map whose values
// have a `deadline`; none when nothing is in flight.
template <class Map>
std::optional<Clock::time_point> earliestDeadline(const Map& inFlight)
{
    std::optional<Clock::time_point> earliest;
    for (const auto& [key, echo] : inFlight)
        if (!earliest || echo.deadline < *earliest)
            earliest = echo.deadline;
    return earliest;
}

}  // namespace icmp
