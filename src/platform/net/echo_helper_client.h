#pragma once

// The program's side of the echo helper: a process that holds cap_net_raw
// for a program that must hold none. It is started at its first echo and
// kept for the process's life; a helper that dies, or refuses a request,
// costs the echo in progress (IP_GENERAL_FAILURE) and is started afresh for
// the next one.

#include "platform/net/icmp_packet.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace platform::icmp {

class EchoHelper {
public:
    // The program and its arguments; nothing is started yet.
    explicit EchoHelper(std::vector<std::string> command);
    ~EchoHelper();
    EchoHelper(const EchoHelper&) = delete;
    EchoHelper& operator=(const EchoHelper&) = delete;

    // One echo through the helper, started first when none runs. Any
    // failure of the helper is IP_GENERAL_FAILURE. The outcome's data lives
    // until the next echo. Safe to call from several threads; they take
    // turns.
    Outcome echo(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs);

    // The helper's process id, 0 when none runs.
    int pid() const;

private:
    bool start();
    void stop();
    bool exchange(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs,
                  Outcome& outcome);
    // Appends what the helper sends next, waiting at most wait at a time
    // and not past the deadline; false at the end of its stream or when
    // nothing came.
    bool receive(std::chrono::milliseconds wait, std::chrono::steady_clock::time_point deadline);

    const std::vector<std::string> command_;
    mutable std::mutex mutex_;
    int pid_ = 0;
    int channel_ = -1;
    // A helper that never greeted (no raw socket to be had) is not tried
    // again: every echo would start one more process to hear the same.
    bool refused_ = false;
    std::uint32_t nextId_ = 1;
    std::chrono::milliseconds receiveWait_{};
    std::vector<std::uint8_t> buffer_;
    std::vector<std::uint8_t> data_;
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

}  // namespace platform::icmp
