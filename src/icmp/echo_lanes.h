#pragma once

#include "icmp/echo_socket.h"

#include <atomic>
#include <cstdint>
#include <limits>
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
// the program does around it. So a burst of echoes is dealt out over
// lanes: threads with an ICMP socket each, one per core but the caller's,
// whose identifiers (and, on a raw socket, their filters) keep their
// answers apart. The caller is a lane too: it hands an echo over under a
// lock while the lane has little waiting, and sends it itself, on a socket
// of its own, while the lanes are behind. So every core works, and no more
// threads run than there are cores, which a scheduler that keeps busy
// threads where they ran would otherwise queue behind each other.
//
// An echo the caller waits for (echo()) goes over the caller's socket on
// the caller's thread: a hand-over to a lane and back would cost more than
// the echo itself.
class EchoLanes final : public EchoTransport {
public:
    // Null when a socket of the kind may not be opened. The threads start
    // at the first start().
    static std::unique_ptr<EchoLanes> open(SocketKind kind, unsigned threads);
    // The kind EchoSocket::open() prefers, a thread per core but one; on a
    // single core, the plain socket.
    static std::unique_ptr<EchoTransport> openForThisMachine();

    ~EchoLanes() override;
    EchoLanes(const EchoLanes&) = delete;
    EchoLanes& operator=(const EchoLanes&) = delete;

    Ticket start(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs) override;
    void abandon(Ticket ticket) override;
    std::size_t inFlight() const override { return inFlight_; }
    std::optional<Clock::time_point> nextDeadline() const override;
    void collect(std::vector<Settled>& settled) override;
    void wait(Clock::time_point until) override;
    Settled echo(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs) override;

private:
    // A wake-up one thread gives another: an eventfd, closed with it.
    class WakeUp {
    public:
        WakeUp();
        ~WakeUp();
        WakeUp(const WakeUp&) = delete;
        WakeUp& operator=(const WakeUp&) = delete;
        bool valid() const { return fd_ >= 0; }
        int descriptor() const { return fd_; }
        void give() const;
        void take() const;  // and forget any others given meanwhile

    private:
        const int fd_;
    };
    struct Request {
        Address destination;
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
        WakeUp wake;  // new requests, or the end
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
    void startThreads();
    bool handOver(Lane& lane, const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs);
    void run(std::size_t index);
    void take(std::vector<Settled>& from, std::vector<Settled>& to);
    // A ticket names the lane (the caller's is the last) and the lane's
    // own ticket.
    Ticket ticketOf(Ticket own, std::size_t lane) const { return own * (lanes_.size() + 1) + lane; }

    std::unique_ptr<EchoSocket> own_;  // the caller's lane
    std::vector<std::unique_ptr<Lane>> lanes_;
    bool started_ = false;
    std::size_t nextLane_ = 0;
    std::size_t inFlight_ = 0;
    // Abandoned in flight in a lane: their records are dropped when they come.
    std::unordered_set<Ticket> abandoned_;
    std::vector<Settled> taken_;

    // What the lanes settled, for the caller to collect; the caller, while
    // it waits, is woken through ready_.
    std::mutex settledMutex_;
    std::vector<Settled> settled_;
    bool callerWaiting_ = false;
    const WakeUp ready_;
};

}  // namespace icmp
