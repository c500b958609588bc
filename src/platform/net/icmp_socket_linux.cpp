#include "platform/net/icmp_socket.h"

#include "platform/net/deadline.h"
#include "platform/net/network.h"

#include <atomic>
#include <cerrno>
#include <optional>
#include <random>

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform::icmp {
namespace {

// Two numbers drawn once per process, so that another process is unlikely
// to share them: the identifier that raw-socket echoes carry (a process id
// cut to 16 bits is shared by every process that is pid 1 of its own
// namespace), and where the sequence numbers start.
std::uint16_t randomNumber()
{
    std::random_device source;
    return static_cast<std::uint16_t>(source());
}

// Sequence numbers are unique within the process, so a late answer to an
// earlier echo can never pass for the answer to this one.
std::uint16_t nextSequence()
{
    static std::atomic<std::uint16_t> counter{randomNumber()};
    return ++counter;
}

// Raw sockets see every ICMP message of the host; our identifier tells ours
// apart from other processes' echoes.
std::uint16_t processIdentifier()
{
    static const std::uint16_t identifier = randomNumber();
    return identifier;
}

bool setOption(int fd, int level, int name, const void* value, socklen_t length)
{
    return ::setsockopt(fd, level, name, value, length) == 0;
}

int openSocket(SocketKind kind)
{
    const int type = (kind == SocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW) | SOCK_CLOEXEC | SOCK_NONBLOCK;
    const int fd = ::socket(AF_INET, type, IPPROTO_ICMP);
    if (fd < 0)
        return -1;
    const int on = 1;
    bool ready;
    if (kind == SocketKind::Datagram) {
        ready = setOption(fd, SOL_IP, IP_RECVERR, &on, sizeof on) && setOption(fd, SOL_IP, IP_RECVTTL, &on, sizeof on);
    } else {
        // Only echo replies and the errors that can quote an echo get through.
        icmp_filter filter{};
        filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
                        (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
        ready = setOption(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    if (!ready) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::uint32_t elapsedMs(Deadline::Clock::time_point since)
{
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Deadline::Clock::now() - since).count());
}

Outcome failure(std::int32_t status)
{
    Outcome outcome;
    outcome.status = status;
    return outcome;
}

// The TTL of a datagram socket's reply, as IP_RECVTTL hands it over.
std::uint8_t receivedTtl(msghdr& message)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
        if (c->cmsg_level == SOL_IP && c->cmsg_type == IP_TTL)
            return static_cast<std::uint8_t>(*reinterpret_cast<const int*>(CMSG_DATA(c)));
    return 0;
}

// An error that a datagram socket queued for our echo: an ICMP error quotes
// our request; a local error carries no payload, and this socket has sent
// nothing but this echo.
Verdict queuedError(msghdr& message, const sockaddr_in& destination, std::span<const std::uint8_t> quoted,
                    const EchoIdentity& echo)
{
    Verdict verdict;
    if (destination.sin_addr.s_addr != echo.destination)
        return verdict;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR)
            continue;
        const auto* error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
        if (error->ee_origin == SO_EE_ORIGIN_ICMP && isOurRequest(quoted, echo.sequence)) {
            verdict.kind = Verdict::Kind::Error;
            verdict.status = statusFromIcmp(error->ee_type, error->ee_code);
            const auto* offender = reinterpret_cast<const sockaddr_in*>(SO_EE_OFFENDER(error));
            verdict.from = offender->sin_family == AF_INET ? offender->sin_addr.s_addr : 0;
        } else if (error->ee_origin == SO_EE_ORIGIN_LOCAL) {
            verdict.kind = Verdict::Kind::Error;
            verdict.status = statusFromErrno(static_cast<int>(error->ee_errno));
        }
    }
    return verdict;
}

}  // namespace

std::unique_ptr<EchoSocket> EchoSocket::open()
{
    // The kind that opened last time is tried first, so that a process
    // refused datagram sockets does not pay for the refusal at every echo;
    // the other kind still follows whenever the first is refused.
    static std::atomic<SocketKind> first{SocketKind::Datagram};
    const SocketKind preferred = first.load();
    const SocketKind other = preferred == SocketKind::Datagram ? SocketKind::Raw : SocketKind::Datagram;
    if (auto socket = open(preferred))
        return socket;
    auto socket = open(other);
    if (socket)
        first.store(other);
    return socket;
}

std::unique_ptr<EchoSocket> EchoSocket::open(SocketKind kind)
{
    const int fd = openSocket(kind);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<EchoSocket>(new EchoSocket(fd, kind));
}

EchoSocket::~EchoSocket()
{
    ::close(fd_);
}

Outcome EchoSocket::echo(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
{
    const bool raw = kind_ == SocketKind::Raw;
    const EchoIdentity identity{destination, raw ? processIdentifier() : std::uint16_t{0}, nextSequence()};
    const auto request = buildEchoRequest(identity.identifier, identity.sequence, data);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination;
    const auto sent = Deadline::Clock::now();
    const Deadline deadline(timeoutMs, sent);
    if (::sendto(fd_, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0)
        return failure(statusFromErrno(errno));

    // One received message, judged.
    struct Received {
        enum class Kind { Ours, NotOurs, Empty } kind;
        Outcome outcome;
    };
    auto receive = [&](bool errorQueue) -> Received {
        sockaddr_in from{};
        iovec iov{buffer_.data(), buffer_.size()};
        alignas(cmsghdr) std::uint8_t control[512];
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &iov;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t length = ::recvmsg(fd_, &message, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
        // Nothing left, or a pending socket error that the error queue explains.
        if (length < 0)
            return {Received::Kind::Empty, {}};
        const std::span<const std::uint8_t> bytes(buffer_.data(), static_cast<std::size_t>(length));

        Verdict verdict;
        if (raw) {
            verdict = classifyRawPacket(bytes, identity);
        } else if (errorQueue) {
            verdict = queuedError(message, from, bytes, identity);
        } else {
            verdict = classifyDatagram(bytes, identity.sequence);
            verdict.from = from.sin_addr.s_addr;
            verdict.ttl = receivedTtl(message);
        }
        if (verdict.kind == Verdict::Kind::Ignore)
            return {Received::Kind::NotOurs, {}};
        Outcome outcome;
        outcome.status = verdict.kind == Verdict::Kind::Reply ? IP_SUCCESS : verdict.status;
        outcome.address = verdict.from;
        outcome.roundTripMs = elapsedMs(sent);
        outcome.ttl = verdict.ttl;
        outcome.data = verdict.data;
        return {Received::Kind::Ours, outcome};
    };

    // Everything queued, judged in turn; foreign messages are dropped and
    // never push the deadline back.
    auto drain = [&](bool errorQueue) -> std::optional<Outcome> {
        for (;;) {
            const Received received = receive(errorQueue);
            if (received.kind == Received::Kind::Ours)
                return received.outcome;
            if (received.kind == Received::Kind::Empty)
                return std::nullopt;
        }
    };

    for (;;) {
        pollfd watch{fd_, POLLIN, 0};
        const auto slice = deadline.slice();
        const timespec wait{static_cast<time_t>(slice.count() / 1000000000), static_cast<long>(slice.count() % 1000000000)};
        const int ready = ::ppoll(&watch, 1, &wait, nullptr);
        if (ready < 0 && errno != EINTR)
            return failure(IP_GENERAL_FAILURE);
        if (ready > 0 && (watch.revents & POLLERR))
            if (auto outcome = drain(true))
                return *outcome;
        if (ready > 0 && (watch.revents & POLLIN))
            if (auto outcome = drain(false))
                return *outcome;
        if (deadline.passed())
            return failure(IP_REQ_TIMED_OUT);
    }
}

}  // namespace platform::icmp
