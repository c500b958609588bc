#pragma once

#include "icmp/echo_transport.h"
#include "icmp/packet.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

namespace icmp {

enum class SocketKind { Datagram, Raw };

// The echo engine: one ICMP socket that a process keeps, with any number of
// echoes in flight on it, and the one place where what comes back is given
// to the echo it answers. A datagram ("ping") socket is preferred, as it
// needs no privilege where ping_group_range allows it; a raw socket
// (CAP_NET_RAW) is the fall-back. IPv6 echoes go out on an ICMPv6 socket
// of the same kind beside it, opened at the first of them, so that an IPv4
// run costs nothing more; both number their tickets from one count.
//
// A poll loop (the echo helper's) drives it by polling descriptors() for
// input, up to nextDeadline(), then collect(). The descriptors may change
// at a start, when the socket is replaced.
class EchoSocket final : public EchoTransport {
public:
    // Null when neither kind may be opened.
    static std::unique_ptr<EchoSocket> open();
    static std::unique_ptr<EchoSocket> open(SocketKind kind);

    ~EchoSocket() override;
    EchoSocket(const EchoSocket&) = delete;
    EchoSocket& operator=(const EchoSocket&) = delete;

    SocketKind kind() const { return kind_; }
    // The socket, and the one it replaced while that still has echoes in
    // flight (or -1); then the same of the ICMPv6 socket.
    std::array<int, 4> descriptors() const
    {
        return {fd_, retiring_, v6_ ? v6_->fd_ : -1, v6_ ? v6_->retiring_ : -1};
    }
    // Opens the ICMPv6 socket now rather than at the first IPv6 echo: the
    // echo helper must, before it gives up the right to. Whether there is
    // one.
    bool openV6();

    // Tickets number the starts from 1, one each, refused or not.
    Ticket start(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs) override;
    void abandon(Ticket ticket) override;
    std::size_t inFlight() const override { return pending_.size() + (v6_ ? v6_->pending_.size() : 0); }
    // Never later than the earliest deadline, at times earlier: a wait that
    // ends early costs one look at the echoes in flight.
    std::optional<Clock::time_point> nextDeadline() const override;
    // Judges everything the socket holds before it settles the echoes whose
    // deadline has passed.
    void collect(std::vector<Settled>& settled) override;
    // In slices, so that the wake-up is not late (see waitSlice).
    void wait(Clock::time_point until) override;
    // The same, and until the descriptor given is readable too.
    void wait(Clock::time_point until, int alsoWakeOn);
    Settled echo(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs) override;

private:
    struct Pending {
        Ticket ticket;
        EchoIdentity identity;
        int fd;  // the socket it went out on
        Clock::time_point sent;
        Clock::time_point deadline;
    };

    EchoSocket(int fd, SocketKind kind, Family family);
    static std::uint32_t keyOf(EchoKey key) { return std::uint32_t{key.identifier} << 16 | key.sequence; }

    void prepareForStart(Clock::time_point now);
    void attachFilter();
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
    void tidyAfterWait(short events, short retiringEvents);

    // Hands an echo to the ICMPv6 socket, under a ticket of this count.
    Ticket startV6(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs);
    Ticket startAt(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs,
                   Clock::time_point now);

    int fd_;
    int retiring_ = -1;
    std::size_t retiringInFlight_ = 0;
    SocketKind kind_;
    Family family_;
    std::unique_ptr<EchoSocket> v6_;  // beside an IPv4 socket, once an IPv6 echo came
    std::uint16_t identifier_;        // what raw echoes carry; the kernel sets it on a datagram socket
    std::uint16_t sequence_;
    std::uint32_t sequencesLeft_;
    Clock::time_point quietSince_;
    // No echo in flight has an earlier deadline; looking for the ones past
    // theirs costs nothing before then.
    Clock::time_point earliestDeadline_ = Clock::time_point::max();
    std::size_t startsSinceRead_ = 0;
    bool mayFragment_ = false;  // the socket's requests
    Ticket nextTicket_ = 1;
    std::unordered_map<std::uint32_t, Pending> pending_;  // by identifier and sequence
    std::vector<Settled> settled_;
    std::vector<std::uint8_t> request_;
    std::array<std::uint8_t, 65536> buffer_;
};

}  // namespace icmp
