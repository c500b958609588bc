// quorvex-echo-helper: the one part of Quorvex that may hold cap_net_raw.
// The window program loads plugins, themes and input methods that the user
// names, so it must hold no privilege and no privileged descriptor; where it
// cannot open an ICMP socket of its own it starts this program instead.
//
// The helper opens its raw ICMP and ICMPv6 sockets, gives up every capability, says so
// with the greeting, and then serves echo requests that come on standard
// input, answering each on standard output (both are one end of a socket
// pair its parent made). It sends nothing but echo requests that carry its
// own identifier, reads nothing from the environment, and leaves on the
// first request it cannot read, with one line on stderr and the same text
// as a failure frame for its parent. It is installed for every local user:
// one who is not root gets no more than Quorvex asks (limits.h), and it
// leaves when its parent is gone.

#include "echo_helper/limits.h"
#include "echo_helper/privileges.h"
#include "icmp/helper_protocol.h"
#include "icmp/echo_socket.h"
#include "icmp/status.h"
#include "icmp/peer_receive.h"
#include "programs/standard_streams.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

namespace helper = icmp::helper;

using helper::kMostInFlight;

// The parent hears why as well as the stderr line, which may go nowhere it
// reads. Without blocking: a parent that reads nothing must not hold the
// helper here; a hand-run helper's output may be a terminal or a file.
[[noreturn]] void leave(const std::string& why)
{
    std::fprintf(stderr, "quorvex-echo-helper: %s\n", why.c_str());
    std::vector<std::uint8_t> frame;
    helper::encodeFailure(why, frame);
    if (::send(STDOUT_FILENO, frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL) < 0 && errno == ENOTSOCK) {
        [[maybe_unused]] const ssize_t written = ::write(STDOUT_FILENO, frame.data(), frame.size());
    }
    std::exit(1);
}

// An echo over a caller's pace, held until its turn.
struct Waiting {
    std::uint32_t id;
    icmp::Address destination;
    std::uint32_t timeoutMs;
    std::vector<std::uint8_t> payload;
};

// Blocks until every byte is out: a parent that pipelines reads answers
// while it waits to write, so this cannot block it in turn.
bool writeAll(std::span<const std::uint8_t> bytes)
{
    while (!bytes.empty()) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

// The answer carries the request's id in place of the engine's ticket.
void putAnswer(icmp::Settled& echo, std::uint32_t id, std::vector<std::uint8_t>& out)
{
    echo.ticket = id;
    helper::encodeAnswer(echo, out);
}

}  // namespace

int main()
{
    // Before anything opens a descriptor: with stderr closed, the raw
    // socket would become descriptor 2 and the line of a failure go out
    // on it.
    const unsigned closed = programs::openClosedStandardStreams();
    // The real uid is the caller's: file capabilities leave it alone.
    const bool limited = ::getuid() != 0;
    // Nothing below may be steered by the caller's environment.
    ::clearenv();
    // A parent that is gone shows as a failed write, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    // Whatever else the parent left open is not the helper's business.
    ::syscall(SYS_close_range, 3u, ~0u, 0u);
    if (closed & 3u)
        leave("needs its parent's socket as standard input and output");

    // A parent that is gone shows as the end of input while idle, and, with
    // echoes in flight, on the output: a hang-up of its socket pair (both
    // directions shut) or an error of a pipe whose reader left. An output
    // that cannot tell (a file, a terminal) leaves the end of input as the
    // only sign, so the helper leaves then. A parent death signal would
    // not do: it comes when the thread that started the helper ends, which
    // need not be the program.
    struct stat output {};
    const bool outputTellsReaderGone = ::fstat(STDOUT_FILENO, &output) == 0 &&
                                       (S_ISSOCK(output.st_mode) || S_ISFIFO(output.st_mode));

    const auto socket = icmp::EchoSocket::open(icmp::SocketKind::Raw);
    if (!socket)
        leave(std::string("cannot open a raw ICMP socket without cap_net_raw: ") + std::strerror(errno));
    // Now or never: without the capability no ICMPv6 socket opens later.
    // A kernel without IPv6 fails only the IPv6 echoes.
    socket->openV6();
    if (const std::string held = echo_helper::dropAllCapabilities(); !held.empty())
        leave("cannot give up its capabilities: " + held);

    std::vector<std::uint8_t> out(helper::kGreeting.begin(), helper::kGreeting.end());
    if (!writeAll(out))
        return 0;
    out.clear();

    // Requests are started as they come, with many in flight, and each is
    // answered as it settles, under the id its request gave.
    std::unordered_map<icmp::Ticket, std::uint32_t> ids;
    std::vector<icmp::Settled> settled;
    std::vector<std::uint8_t> pending;
    std::size_t used = 0;
    std::vector<std::uint8_t> chunk(65536);
    echo_helper::DestinationPace pace;
    std::multimap<echo_helper::Clock::time_point, Waiting> waiting;
    bool inputOpen = true;
    for (;;) {
        const auto now = echo_helper::Clock::now();
        for (auto due = waiting.begin(); due != waiting.end() && due->first <= now; due = waiting.erase(due))
            ids.emplace(socket->start(due->second.destination, due->second.payload, due->second.timeoutMs),
                        due->second.id);
        // Past the engine's bound, requests wait in the socket pair, which
        // holds back a parent that asks faster than echoes settle. Echoes
        // held for their turn count: they bound how long one waits.
        while (ids.size() + waiting.size() < kMostInFlight) {
            const auto decoded = helper::decodeRequest(std::span(pending).subspan(used));
            if (decoded.kind == helper::Decoded<helper::Request>::Kind::Malformed)
                leave("malformed request: " + decoded.error);
            if (decoded.kind == helper::Decoded<helper::Request>::Kind::Incomplete)
                break;
            used += decoded.size;
            const helper::Request& request = decoded.message;
            // Linux answers an echo to 0.0.0.0 (or ::) from this machine
            // itself, for a host that was never asked. That, and a request beyond
            // what Quorvex itself asks, is refused as an echo that cannot
            // be sent: a failure of this echo alone.
            if (request.destination.unspecified() || (limited && !echo_helper::withinUserBounds(request))) {
                icmp::Settled refused;
                refused.status = icmp::IP_GENERAL_FAILURE;
                putAnswer(refused, request.id, out);
                continue;
            }
            if (limited) {
                if (const auto turn = pace.reserve(request.destination, now); turn > now) {
                    waiting.emplace(turn, Waiting{request.id,
                                                  request.destination,
                                                  request.timeoutMs,
                                                  {request.payload.begin(), request.payload.end()}});
                    continue;
                }
            }
            ids.emplace(socket->start(request.destination, request.payload, request.timeoutMs), request.id);
        }
        if (used > 0 && used * 2 >= pending.size()) {
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));
            used = 0;
        }

        // Receive before waiting: on a near host the reply is there by the
        // time the send returns, and its answer goes out without a poll.
        socket->collect(settled);
        for (auto& echo : settled) {
            const auto found = ids.find(echo.ticket);
            if (found == ids.end())
                continue;
            putAnswer(echo, found->second, out);
            ids.erase(found);
        }
        settled.clear();
        if (!out.empty()) {
            if (!writeAll(out))
                return 0;
            out.clear();
        }
        // Requests read but held back while the engine was full come first:
        // the parent may have written them all and be waiting for answers.
        if (ids.size() + waiting.size() < kMostInFlight && helper::decodeRequest(std::span(pending).subspan(used)).kind !=
                                                               helper::Decoded<helper::Request>::Kind::Incomplete)
            continue;
        if (!inputOpen && ids.empty() && waiting.empty())
            return 0;

        // With nothing in flight there is nothing but the parent to wait
        // for: a read (receiveFromPeer), without a poll before it.
        const bool idle = inputOpen && ids.empty() && waiting.empty();
        const bool mayRead = inputOpen && ids.size() + waiting.size() < kMostInFlight;
        // The output is watched for nothing but its reader leaving.
        pollfd watch[2 + std::tuple_size_v<decltype(socket->descriptors())>] = {{mayRead ? STDIN_FILENO : -1, POLLIN, 0},
                                                                                {STDOUT_FILENO, 0, 0}};
        nfds_t count = 2;
        for (const int fd : socket->descriptors())
            if (fd >= 0)
                watch[count++] = pollfd{fd, POLLIN, 0};
        // Until the next echo's deadline or the next held echo's turn.
        std::optional<echo_helper::Clock::time_point> wake = socket->nextDeadline();
        if (!waiting.empty())
            wake = std::min(wake.value_or(waiting.begin()->first), waiting.begin()->first);
        int timeout = -1;
        if (wake) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*wake - echo_helper::Clock::now());
            timeout = static_cast<int>(std::clamp<long long>(left.count(), 0, 60000));
        }
        if (!idle) {
            if (::poll(watch, count, timeout) < 0 && errno != EINTR)
                leave(std::string("cannot wait for requests: ") + std::strerror(errno));
            // The parent is gone, and nobody is left to answer.
            if (watch[1].revents & (POLLHUP | POLLERR))
                return 0;
            if (!(watch[0].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
        }

        const ssize_t got = idle ? icmp::receiveFromPeer(STDIN_FILENO, chunk)
                                 : ::read(STDIN_FILENO, chunk.data(), chunk.size());
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        // A parent that went with answers unread resets the pair instead of
        // ending it: gone all the same, and nobody is left to tell.
        if (got < 0 && errno == ECONNRESET)
            return 0;
        if (got < 0)
            leave(std::string("cannot read requests: ") + std::strerror(errno));
        if (got == 0) {
            if (used < pending.size())
                leave("truncated request: the input ended " + std::to_string(pending.size() - used) +
                      " bytes into a frame");
            // Nobody is left to ask; what is in flight is still answered
            // for a parent that only closed its writing side, where the
            // output would tell when that parent goes too.
            if (!outputTellsReaderGone)
                return 0;
            inputOpen = false;
            continue;
        }
        pending.insert(pending.end(), chunk.begin(), chunk.begin() + got);
    }
}
