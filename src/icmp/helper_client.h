#pragma once

// The program's side of the echo helper: a process that holds cap_net_raw
// for a program that must hold none. It is started at its first echo and
// kept for the process's life. Many echoes are in flight, their requests
// written in batches and each answer collected by id whenever it comes. A
// helper that dies, hangs or says what it should not is killed, and every
// echo it had in flight is asked once more of a fresh helper; an echo that
// fails that one too settles as IP_GENERAL_FAILURE. Time this process did
// not run (stopped, frozen) does not count against the helper. Not safe to
// call from several threads at once; the network layer keeps it behind its
// lock.

#include "icmp/echo_transport.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace icmp {

class EchoHelper final : public EchoTransport {
public:
    // The program and its arguments; nothing is started yet.
    explicit EchoHelper(std::vector<std::string> command);
    ~EchoHelper() override;
    EchoHelper(const EchoHelper&) = delete;
    EchoHelper& operator=(const EchoHelper&) = delete;

    // Asks for one echo, starting the helper first when none runs; the
    // request is written by the next collect() or wait(), or with the ones
    // after it. An echo that cannot be asked is settled at once with
    // IP_GENERAL_FAILURE.
    Ticket start(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs) override;
    void abandon(Ticket ticket) override;
    std::size_t inFlight() const override { return pending_.size(); }
    // The earliest time by which an echo in flight must have its answer.
    std::optional<Clock::time_point> nextDeadline() const override;
    // Also gives up a helper that is past an echo's deadline.
    void collect(std::vector<Settled>& settled) override;
    void wait(Clock::time_point until) override;
    Settled echo(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs) override;

    // The helper's process id, 0 when none runs.
    int pid() const { return pid_; }
    // Starts the helper when none runs; whether one serves.
    bool ready();
    // Why the last helper that failed did: its own words when it sent
    // them, otherwise how it ended. Empty while none has failed.
    const std::string& lastFailure() const { return failure_; }

private:
    struct Pending {
        Ticket ticket;
        Clock::time_point deadline;
        // The request, kept to ask a fresh helper when this one fails.
        Address destination;
        std::uint32_t timeoutMs = 0;
        std::vector<std::uint8_t> payload;
        bool askedAgain = false;
    };

    bool startHelper();
    // Kills and reaps the helper. With a why, the helper failed: its
    // failure is kept, in its words when it left some, else its exit
    // status, else the why; and the echoes it had in flight are asked of a
    // fresh one, unless this was their second helper. Without a why every
    // echo in flight fails.
    void stop(const char* why);
    void fail(Ticket ticket);
    void ask(std::uint32_t id, Pending echo);
    // Whether this process ran late by much more than it meant to sleep
    // (it was stopped, or its cgroup frozen); then every echo in flight
    // gets its timeout and grace again from now. Called on every clock
    // reading that may judge the helper; interrupted: a read of the
    // helper's socket ended with EINTR, which a stop causes.
    bool noticePause(Clock::time_point now, bool interrupted = false);
    // Writes the whole frame, reading answers meanwhile so that a helper
    // blocked on its own write cannot block this one.
    bool sendAll(std::span<const std::uint8_t> bytes);
    void sendUnsent();
    // Appends what the helper has written; blocking for at most wait when
    // wait is not zero. False at the end of its stream or on an error.
    bool receive(std::chrono::milliseconds wait);
    // Settles every complete answer in the buffer; false when the helper
    // is out of step.
    bool takeAnswers();
    void expire(Clock::time_point now);

    const std::vector<std::string> command_;
    int pid_ = 0;
    int channel_ = -1;
    // A helper that never greeted (no raw socket to be had) is not tried
    // again: every echo would start one more process to hear the same.
    bool refused_ = false;
    bool ended_ = false;        // the helper closed its end
    bool interrupted_ = false;  // the last read ended with EINTR
    std::string failure_;
    Ticket nextTicket_ = 1;
    std::chrono::milliseconds receiveWait_{};
    // When this process last ran, or when the sleep it asked for ends.
    Clock::time_point awake_ = Clock::now();
    std::unordered_map<std::uint32_t, Pending> pending_;  // by request id
    std::vector<Settled> settled_;
    std::vector<std::uint8_t> buffer_;
    std::size_t bufferStart_ = 0;
    std::vector<std::uint8_t> unsent_;  // requests not yet written
    Clock::time_point unsentDeadline_ = Clock::time_point::max();
    std::array<std::uint8_t, 65536> chunk_;
};

// Where the helper is: beside the build when this program runs from its
// build tree, otherwise where the package installs it.
std::string echoHelperPath();

// What the helper's file promises, seen from this process.
struct EchoHelperFile {
    bool present = false;  // there, and this process may run it
    bool granted = false;  // the kernel will give it cap_net_raw when it starts
    // False where cap_net_raw on the file cannot help: it is there already,
    // or the kernel would ignore it (nosuid mount, no_new_privs, CAP_NET_RAW
    // outside the bounding set).
    bool capabilityWouldHelp = false;
};
EchoHelperFile inspectEchoHelper(const std::string& path);

// This process's helper, at echoHelperPath(); null when its file is missing
// or would not be granted cap_net_raw, which is looked at once. Without
// that right the helper could only fail, and say so on stderr at the first
// echo.
EchoHelper* processEchoHelper();

}  // namespace icmp
