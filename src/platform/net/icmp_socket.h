#pragma once

#include "platform/net/deadline.h"
#include "platform/net/icmp_packet.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

namespace platform::icmp {

enum class SocketKind { Datagram, Raw };

// The earliest deadline among echoes in flight, kept in a map whose values
// have a `deadline`; none when nothing is in flight.
template <class Map>
std::optional<std::chrono::steady_clock::time_point> earliestDeadline(const Map& inFlight)
{
    std::optional<std::chrono::steady_clock::time_point> earliest;
    for (const auto& [key, echo] : inFlight)
        if (!earliest || echo.deadline < *earliest)
            earliest = echo.deadline;
    return earliest;
}

// The echo engine: one ICMP socket that a process keeps, with any number of
// echoes in flight on it, and the one place where what comes back is given
// to the echo it answers. A datagram ("ping") socket is preferred, as it
// needs no privilege where ping_group_range allows it; a raw socket
// (CAP_NET_RAW) is the fall-back.
//
// It does no waiting of its own but in wait() and echo(), so that a poll
// loop (the echo helper's) can drive it: poll descriptors() for input, up
// to nextDeadline(), then collect(). The descriptors may change at a
// start, when the socket is replaced.
class EchoSocket {
public:
    using Clock = Deadline::Clock;
    using Ticket = std::uint64_t;

    struct Settled {
        Ticket ticket = 0;
        std::int32_t status = 0;
        std::uint32_t address = 0;  // network byte order
        std::uint32_t roundTripMs = 0;
        std::uint8_t ttl = 0;
        std::vector<std::uint8_t> data;  // the echoed data of an answer

        Outcome outcome() const { return {status, address, roundTripMs, ttl, data}; }
    };

    // Null when neither kind may be opened.
    static std::unique_ptr<EchoSocket> open();
    static std::unique_ptr<EchoSocket> open(SocketKind kind);

    ~EchoSocket();
    EchoSocket(const EchoSocket&) = delete;
    EchoSocket& operator=(const EchoSocket&) = delete;

    SocketKind kind() const { return kind_; }
    // The socket, and the one it replaced while that still has echoes in
    // flight (or -1).
    std::array<int, 2> descriptors() const { return {fd_, retiring_}; }

    // Sends one echo request. An echo whose send fails is settled at once;
    // collect() hands it over like any other.
    Ticket start(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs);
    // Its answer, whenever it comes, is dropped, and it is never handed over.
    void abandon(Ticket ticket);

    std::size_t inFlight() const { return pending_.size(); }
    // The earliest deadline of the echoes in flight.
    std::optional<Clock::time_point> nextDeadline() const;

    // Without waiting: judges everything the socket holds, settles the
    // echoes whose deadline has passed, and appends whatever has settled
    // since the last collection.
    void collect(std::vector<Settled>& settled);
    // Waits until something arrives or until the time given, whichever comes
    // first; in slices, so that the wake-up is not late (see Deadline).
    void wait(Clock::time_point until);

    // Starts an echo and waits for this one; other echoes in flight go on
    // and are collected as usual. The outcome's data lives until the next
    // echo.
    Outcome echo(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs);

private:
    struct Pending {
        Ticket ticket;
        EchoIdentity identity;
        int fd;  // the socket it went out on
        Clock::time_point sent;
        Clock::time_point deadline;
    };

    EchoSocket(int fd, SocketKind kind);
    static std::uint32_t keyOf(EchoKey key) { return std::uint32_t{key.identifier} << 16 | key.sequence; }

    void prepareForStart(Clock::time_point now);
    std::uint16_t nextSequence();
    bool send(const Pending& echo, std::span<const std::uint8_t> data);
    // One receive from the socket or its error queue, judged; false when
    // there was nothing. ICMP errors read from the queue are counted.
    bool receiveOne(int fd, bool errorQueue, std::size_t* icmpErrors = nullptr);
    void judge(int fd, std::optional<EchoKey> key, auto&& classify, Clock::time_point now);
    void settle(std::unordered_map<std::uint32_t, Pending>::iterator echo, const Verdict& verdict, Clock::time_point now);
    void settleFailed(Ticket ticket, std::int32_t status);
    void expire(Clock::time_point now);
    // Judges every entry of the error queue; returns how many were ICMP errors.
    std::size_t drainErrorQueue(int fd);
    void receiveAll(int fd);
    void retireIfDone();

    int fd_;
    int retiring_ = -1;
    std::size_t retiringInFlight_ = 0;
    SocketKind kind_;
    std::uint16_t identifier_;  // what raw echoes carry; the kernel sets it on a datagram socket
    std::uint16_t sequence_;
    std::uint32_t sequencesLeft_;
    Clock::time_point quietSince_;
    Ticket nextTicket_ = 1;
    std::unordered_map<std::uint32_t, Pending> pending_;  // by identifier and sequence
    std::vector<Settled> settled_;
    std::vector<std::uint8_t> request_;
    std::vector<std::uint8_t> lastData_;
    std::array<std::uint8_t, 65536> buffer_;
};

}  // namespace platform::icmp
