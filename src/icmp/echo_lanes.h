#pragma once

#include "icmp/echo_socket.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <unordered_set>
#include <vector>

namespace icmp {

// The process's own echoes, spread over the machine's cores.
//
// On loopback and on a fast network an echo costs mostly the kernel's time,
// and the thread that sends pays it: the send carries the request through
// the stack, and the host's answer comes up through it within the same
// call. One thread then tops out near three microseconds an echo, whatever
// the program does around it. So a burst of echoes is dealt out over lanes,
// one per core: each a thread with an ICMP socket of its own, whose
// identifier (and, on a raw socket, its filter) keeps its answers apart
// from the other lanes'. The caller only hands echoes over and takes back
// what settled, which costs a lock, not a wake-up, while the lanes are
// busy.
//
// An echo the caller waits for (echo()) goes over a socket of the caller's
// own, on the caller's thread: a hand-over to a lane and back would cost
// more than the echo itself.
class EchoLanes final : public EchoTransport {
public:
    // Null when a socket of the kind may not be opened. The lanes' threads
    // start at the first start().
    static std::unique_ptr<EchoLanes> open(SocketKind kind, unsigned lanes);
    // The kind EchoSocket::open() prefers, a lane per core; on a single
    // core, where a lane would only add its hand-overs, the plain socket.
    static std::unique_ptr<EchoTransport> openForThisMachine();

    ~EchoLanes() override;
    EchoLanes(const EchoLanes&) = delete;
    EchoLanes& operator=(const EchoLanes&) = delete;

    SocketKind kind() const { return own_->kind(); }

    Ticket start(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs) override;
    void abandon(Ticket ticket) override;
    std::size_t inFlight() const override { return inFlight_; }
    std::optional<Clock::time_point> nextDeadline() const override;
    void collect(std::vector<Settled>& settled) override;
    void wait(Clock::time_point until) override;
    Settled echo(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs) override;

private:
    struct Request {
        std::uint32_t destination;
        std::uint32_t timeoutMs;
        std::size_t dataOffset;
        std::size_t dataSize;
    };
    // Requests as a lane is handed them, and takes them.
    struct Batch {
        std::vector<Request> requests;
        std::vector<std::uint8_t> data;
        void clear();
    };
    struct Lane {
        std::unique_ptr<EchoSocket> socket;
        int wake = -1;  // an eventfd: new requests, or the end
        std::thread thread;
        std::mutex mutex;
        Batch inbox;
        bool sleeping = false;
        bool stopping = false;
        // Written by the lane, read by the caller: Clock's ticks, or none.
        std::atomic<Clock::rep> nextDeadline{kNoDeadline};
        Ticket started = 0;  // the caller's count
    };
    static constexpr Clock::rep kNoDeadline = std::numeric_limits<Clock::rep>::max();

    EchoLanes(std::unique_ptr<EchoSocket> own, std::vector<std::unique_ptr<Lane>> lanes);
    void startLanes();
    void run(std::size_t index);
    void takeSettled(std::vector<Settled>& settled);

    std::unique_ptr<EchoSocket> own_;  // the caller's own echo()s
    std::vector<std::unique_ptr<Lane>> lanes_;
    bool started_ = false;
    std::size_t nextLane_ = 0;
    std::size_t inFlight_ = 0;
    // Abandoned in flight: their records are dropped when they come.
    std::unordered_set<Ticket> abandoned_;

    // What the lanes settled, for the caller to collect.
    std::mutex settledMutex_;
    std::condition_variable settledReady_;
    std::vector<Settled> settled_;
};

}  // namespace icmp
