// quorvex-echo-helper: the one part of Quorvex that may hold cap_net_raw.
// The window program loads plugins, themes and input methods that the user
// names, so it must hold no privilege and no privileged descriptor; where it
// cannot open an ICMP socket of its own it starts this program instead.
//
// The helper opens its raw ICMP socket, gives up every capability, says so
// with the greeting, and then serves echo requests that come on standard
// input, answering each on standard output (both are one end of a socket
// pair its parent made). It sends nothing but echo requests that carry its
// own identifier, reads nothing from the environment, and leaves on the
// first request it cannot read, with one line on stderr.

#include "echo_helper/privileges.h"
#include "platform/net/echo_helper_protocol.h"
#include "platform/net/icmp_socket.h"
#include "platform/net/network.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

namespace helper = platform::icmp::helper;

[[noreturn]] void leave(const std::string& why)
{
    std::fprintf(stderr, "quorvex-echo-helper: %s\n", why.c_str());
    std::exit(1);
}

bool writeAll(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

helper::Answer serve(platform::icmp::EchoSocket& socket, const helper::Request& request)
{
    helper::Answer answer;
    answer.id = request.id;
    // Linux answers an echo to 0.0.0.0 from this machine itself, for a host
    // that was never asked.
    if (request.destination == 0) {
        answer.status = platform::IP_GENERAL_FAILURE;
        return answer;
    }
    const platform::icmp::Outcome outcome = socket.echo(request.destination, request.payload, request.timeoutMs);
    answer.status = outcome.status;
    answer.address = outcome.address;
    answer.roundTripMs = outcome.roundTripMs;
    answer.ttl = outcome.ttl;
    answer.data = outcome.data;
    return answer;
}

}  // namespace

int main()
{
    // Nothing below may be steered by the caller's environment.
    ::clearenv();
    // A parent that is gone shows as a failed write, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    // Whatever else the parent left open is not the helper's business.
    ::syscall(SYS_close_range, 3u, ~0u, 0u);
    if (::fcntl(STDIN_FILENO, F_GETFD) < 0 || ::fcntl(STDOUT_FILENO, F_GETFD) < 0)
        leave("needs its parent's socket as standard input and output");

    const auto socket = platform::icmp::EchoSocket::open(platform::icmp::SocketKind::Raw);
    if (!socket)
        leave(std::string("cannot open a raw ICMP socket (") + std::strerror(errno) +
              "); the helper needs cap_net_raw");
    if (const std::string held = echo_helper::dropAllCapabilities(); !held.empty())
        leave("cannot give up its capabilities: " + held);

    std::vector<std::uint8_t> out(helper::kGreeting.begin(), helper::kGreeting.end());
    if (!writeAll(out))
        return 0;

    // Requests are read as they come and served in order; a parent may send
    // several before it reads the first answer.
    std::vector<std::uint8_t> pending;
    std::vector<std::uint8_t> chunk(65536);
    for (;;) {
        std::size_t used = 0;
        for (;;) {
            const auto decoded = helper::decodeRequest(std::span(pending).subspan(used));
            if (decoded.kind == helper::Decoded<helper::Request>::Kind::Malformed)
                leave("malformed request: " + decoded.error);
            if (decoded.kind == helper::Decoded<helper::Request>::Kind::Incomplete)
                break;
            out.clear();
            helper::encodeAnswer(serve(*socket, decoded.message), out);
            if (!writeAll(out))
                return 0;
            used += decoded.size;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(used));

        const ssize_t got = ::read(STDIN_FILENO, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            leave(std::string("cannot read requests: ") + std::strerror(errno));
        if (got == 0) {
            if (!pending.empty())
                leave("truncated request: the input ended " + std::to_string(pending.size()) +
                      " bytes into a frame");
            return 0;
        }
        pending.insert(pending.end(), chunk.begin(), chunk.begin() + got);
    }
}
