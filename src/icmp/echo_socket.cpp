#include "icmp/echo_socket.h"

#include "icmp/echo_filter.h"
#include "icmp/status.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <random>

#include <cstring>

#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace icmp {
namespace {

// A socket that has had nothing in flight for this long is replaced before
// the next echo. Within a run the echoes follow each other by microseconds
// (or by a timeout, during which one is in flight), so a run keeps its
// socket; an echo started after a pause (a manual ping, the next run) gets a
// fresh one instead of reading through whatever queued meanwhile: late
// answers and errors, and on a raw socket every ICMP message of the
// machine, which fill its receive buffer (some two hundred messages) until
// our own answer is dropped. Other programs' pings do that in a fraction of
// a second, so the bound is short; the replacement costs three system
// calls, nothing beside a pause of a tenth of a second.
constexpr auto kIdleBound = std::chrono::milliseconds(100);

// At most this many echoes in flight: half the sequence numbers, so that a
// free one is always found quickly.
constexpr std::size_t kMostInFlight = 32768;

constexpr std::uint32_t kSequences = 65536;

// Drawn per socket, so that another process is unlikely to share it: the
// identifier that raw-socket echoes carry (a process id cut to 16 bits is
// shared by every process that is pid 1 of its own namespace), and where
// the sequence numbers start.
std::uint16_t randomNumber()
{
    thread_local std::mt19937 generator{std::random_device{}()};
    return static_cast<std::uint16_t>(generator());
}

bool setOption(int fd, int level, int name, const void* value, socklen_t length)
{
    return ::setsockopt(fd, level, name, value, length) == 0;
}

// Room for this many answers in the receive buffer. A burst of echoes is
// sent back to back, and the engine takes in what has come every
// kReadEvery starts; a near host answers before the next send, so the
// buffer must hold what comes between two reads and whatever the caller
// leaves unread while it writes its lines. An answer costs its truesize in
// the buffer, not its length: 832 bytes for a reply with 32 or 56 bytes of
// data on loopback (measured from /proc/net/raw's rx_queue), and up to a
// page or two on a network card whose driver hands over page-sized
// buffers; hence 2 KiB each. The default buffer (212,992 bytes) held some
// 256 of them. Root (CAP_NET_ADMIN) may go past net.core.rmem_max; anyone
// else, the echo helper included, gets at most twice that, which the reads
// every few starts make enough.
constexpr int kBufferedAnswers = 4096;
constexpr int kAnswerTruesize = 2048;
constexpr std::size_t kReadEvery = 16;

void sizeReceiveBuffer(int fd)
{
    // The kernel doubles what it is given, for its own bookkeeping.
    const int bytes = kBufferedAnswers * kAnswerTruesize / 2;
    if (!setOption(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes))
        setOption(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

// The kernel's time of arrival beside every packet (arrivedAt).
void stampArrivals(int fd)
{
    const int on = 1;
    setOption(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
}

// The same of ICMPv6: no IP header comes with a message, so the hop limit
// comes beside it, on both kinds. The same ping_group_range admits a
// datagram socket.
int openSocket6(SocketKind kind, int type)
{
    const int fd = ::socket(AF_INET6, type, IPPROTO_ICMPV6);
    if (fd < 0)
        return -1;
    const int on = 1;
    bool ready = setOption(fd, SOL_IPV6, IPV6_RECVHOPLIMIT, &on, sizeof on);
    if (kind == SocketKind::Datagram) {
        ready = ready && setOption(fd, SOL_IPV6, IPV6_RECVERR, &on, sizeof on);
    } else {
        icmp6_filter filter;
        ICMP6_FILTER_SETBLOCKALL(&filter);
        for (const int type6 :
             {ICMP6_ECHO_REPLY, ICMP6_DST_UNREACH, ICMP6_PACKET_TOO_BIG, ICMP6_TIME_EXCEEDED, ICMP6_PARAM_PROB})
            ICMP6_FILTER_SETPASS(type6, &filter);
        ready = ready && setOption(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
    }
    if (!ready) {
        ::close(fd);
        return -1;
    }
    sizeReceiveBuffer(fd);
    stampArrivals(fd);
    return fd;
}

// Blocking, so that a send waits for room in the send buffer; every
// receive says MSG_DONTWAIT.
int openSocket(SocketKind kind, Family family)
{
    const int type = (kind == SocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW) | SOCK_CLOEXEC;
    if (family == Family::V6)
        return openSocket6(kind, type);
    const int fd = ::socket(AF_INET, type, IPPROTO_ICMP);
    if (fd < 0)
        return -1;
    const int on = 1;
    bool ready;
    if (kind == SocketKind::Datagram) {
        ready = setOption(fd, SOL_IP, IP_RECVERR, &on, sizeof on) && setOption(fd, SOL_IP, IP_RECVTTL, &on, sizeof on);
    } else {
        // Only echo replies and the errors that end an echo get through.
        icmp_filter filter{};
        filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
                        (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
        ready = setOption(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    }
    if (!ready) {
        ::close(fd);
        return -1;
    }
    sizeReceiveBuffer(fd);
    stampArrivals(fd);
    // Unfragmentable until a request needs fragments (see EchoSocket::send).
    const int unfragmentable = IP_PMTUDISC_DO;
    setOption(fd, SOL_IP, IP_MTU_DISCOVER, &unfragmentable, sizeof unfragmentable);
    return fd;
}

std::uint32_t elapsedMs(Clock::duration elapsed)
{
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

// The TTL of a datagram socket's reply, as IP_RECVTTL hands it over, or
// the hop limit of an ICMPv6 message (IPV6_RECVHOPLIMIT).
std::uint8_t receivedTtl(msghdr& message)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c))
        if ((c->cmsg_level == SOL_IP && c->cmsg_type == IP_TTL) ||
            (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_HOPLIMIT))
            return static_cast<std::uint8_t>(*reinterpret_cast<const int*>(CMSG_DATA(c)));
    return 0;
}

// When the packet reached the socket, on the steady clock, from the wall
// clock's stamp the kernel put beside it: an answer read late, behind
// hundreds of others or after the thread waited for a core, keeps the round
// trip it had on the wire, as fping's and ping's do. Without a stamp, or
// when the wall clock has stepped since, the time it was read.
Clock::time_point arrivedAt(msghdr& message, Clock::time_point read)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS)
            continue;
        timespec stamp;
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        timespec wall;
        ::clock_gettime(CLOCK_REALTIME, &wall);
        const auto age =
            std::chrono::seconds(wall.tv_sec - stamp.tv_sec) + std::chrono::nanoseconds(wall.tv_nsec - stamp.tv_nsec);
        if (age >= std::chrono::nanoseconds::zero() && age < std::chrono::seconds(1))
            return read - std::chrono::duration_cast<Clock::duration>(age);
        return read;
    }
    return read;
}

// A sender or destination as recvmsg names it, of either family.
union Peer {
    sockaddr_in v4;
    sockaddr_in6 v6;
};

Address addressOf(const Peer& peer)
{
    if (peer.v4.sin_family == AF_INET6)
        return Address::v6(peer.v6.sin6_addr.s6_addr);
    return Address::v4(peer.v4.sin_addr.s_addr);
}

// An entry of the error queue in the plain form the judgement takes.
QueuedError queuedError(msghdr& message, const Peer& destination, std::span<const std::uint8_t> quoted)
{
    QueuedError queued;
    queued.destination = addressOf(destination);
    queued.quoted = quoted;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (!(c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR) &&
            !(c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_RECVERR))
            continue;
        const auto* error = reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
        queued.origin = error->ee_origin == SO_EE_ORIGIN_ICMP    ? QueuedError::Origin::Icmp
                        : error->ee_origin == SO_EE_ORIGIN_ICMP6 ? QueuedError::Origin::Icmp6
                        : error->ee_origin == SO_EE_ORIGIN_LOCAL ? QueuedError::Origin::Local
                                                                 : QueuedError::Origin::Other;
        queued.type = error->ee_type;
        queued.code = error->ee_code;
        queued.error = static_cast<int>(error->ee_errno);
        // The offender follows the error, as long as the kernel wrote it.
        Peer offender{};
        const std::size_t written = c->cmsg_len - CMSG_LEN(sizeof *error);
        std::memcpy(&offender, SO_EE_OFFENDER(error), std::min(sizeof offender, written));
        const auto family = offender.v4.sin_family;
        queued.offender = family == AF_INET || family == AF_INET6 ? addressOf(offender) : Address();
    }
    return queued;
}

}  // namespace

std::unique_ptr<EchoSocket> EchoSocket::open()
{
    // The kind that opened last time is tried first, so that a process
    // refused datagram sockets does not pay for the refusal again; the
    // other kind still follows whenever the first is refused.
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
    const int fd = openSocket(kind, Family::V4);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<EchoSocket>(new EchoSocket(fd, kind, Family::V4));
}

bool EchoSocket::openV6()
{
    if (!v6_ && family_ == Family::V4)
        if (const int fd = openSocket(kind_, Family::V6); fd >= 0)
            v6_.reset(new EchoSocket(fd, kind_, Family::V6));
    return v6_ != nullptr;
}

EchoSocket::EchoSocket(int fd, SocketKind kind, Family family)
    : fd_(fd),
      kind_(kind),
      family_(family),
      identifier_(randomNumber()),
      sequence_(randomNumber()),
      sequencesLeft_(kSequences),
      quietSince_(Clock::now())
{
    if (kind_ == SocketKind::Raw)
        attachFilter();
}

EchoSocket::~EchoSocket()
{
    ::close(fd_);
    if (retiring_ >= 0)
        ::close(retiring_);
}

// A late answer must never pass for the echo that reuses its sequence
// number, so before the numbers come round again the identity changes: a
// raw socket draws a new identifier; a datagram socket, whose identifier
// the kernel gives, is replaced. Echoes still in flight on the socket it
// replaces are answered there until they settle; the sequence numbers in
// flight on either are skipped, so a number names one echo.
void EchoSocket::prepareForStart(Clock::time_point now)
{
    retireIfDone();
    const bool wrapped = sequencesLeft_ == 0;
    const bool idle = pending_.empty() && now - quietSince_ > kIdleBound;
    const bool replace = idle || (wrapped && kind_ == SocketKind::Datagram && retiring_ < 0);
    if (replace) {
        // When no new socket may be had, the old one serves on: the matcher
        // still refuses what is not ours.
        if (const int fd = openSocket(kind_, family_); fd >= 0) {
            if (pending_.empty()) {
                ::close(fd_);
            } else {
                retiring_ = fd_;
                retiringInFlight_ = pending_.size();
            }
            fd_ = fd;
            mayFragment_ = false;
        } else if (pending_.empty()) {
            // The echo helper may open no socket once its capabilities are
            // gone: what queued while it was idle is read and refused here,
            // before it can crowd out the replies to come.
            while (receiveOne(fd_, false)) {
            }
        }
    }
    if (replace || (wrapped && kind_ == SocketKind::Raw)) {
        const std::uint16_t previous = identifier_;
        while (identifier_ == previous)
            identifier_ = randomNumber();
        sequencesLeft_ = kSequences;
        if (kind_ == SocketKind::Raw)
            attachFilter();
    }
}

// The kernel then queues only what names the new identifier or one still
// in flight; what it queued before is judged in userspace as ever.
void EchoSocket::attachFilter()
{
    // More identifiers in flight than this would take an echo that outlives
    // sixteen rounds of the sequence numbers; the socket then goes without
    // a filter rather than refuse an answer.
    constexpr std::size_t kMostIdentifiers = 16;
    std::vector<std::uint16_t> identifiers{identifier_};
    for (const auto& [key, echo] : pending_)
        if (std::find(identifiers.begin(), identifiers.end(), echo.identity.identifier) == identifiers.end())
            identifiers.push_back(echo.identity.identifier);
    if (identifiers.size() <= kMostIdentifiers && attachEchoFilter(fd_, identifiers, family_))
        return;
    ::setsockopt(fd_, SOL_SOCKET, SO_DETACH_FILTER, nullptr, 0);
}

std::uint16_t EchoSocket::nextSequence()
{
    const std::uint16_t identifier = kind_ == SocketKind::Raw ? identifier_ : 0;
    for (;;) {
        ++sequence_;
        if (sequencesLeft_ > 0)
            --sequencesLeft_;
        if (!pending_.contains(keyOf({identifier, sequence_})))
            return sequence_;
    }
}

Ticket EchoSocket::start(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
{
    if (destination.family() != family_) [[unlikely]]
        return startV6(destination, data, timeoutMs);
    return startAt(destination, data, timeoutMs, Clock::now());
}

Ticket EchoSocket::startAt(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs,
                           Clock::time_point now)
{
    prepareForStart(now);
    const Ticket ticket = nextTicket_++;
    if (pending_.size() >= kMostInFlight) {
        settleFailed(ticket, IP_NO_RESOURCES);
        return ticket;
    }
    // A burst of starts would otherwise leave the answers to its first
    // echoes in the receive buffer until it overflows; the serial path,
    // which starts with nothing in flight, pays no extra receive.
    auto sent = now;
    if (!pending_.empty() && ++startsSinceRead_ >= kReadEvery) {
        startsSinceRead_ = 0;
        receiveAll(fd_);
        if (retiring_ >= 0)
            receiveAll(retiring_);
        // Reading may have taken a while, which is no part of this echo's
        // round trip.
        sent = Clock::now();
    }
    const std::uint16_t identifier = kind_ == SocketKind::Raw ? identifier_ : 0;
    const Pending echo{ticket,
                       {destination, identifier, nextSequence()},
                       fd_,
                       sent,
                       now + std::chrono::milliseconds(timeoutMs)};
    if (send(echo, data)) {
        earliestDeadline_ = pending_.empty() ? echo.deadline : std::min(earliestDeadline_, echo.deadline);
        pending_.emplace(keyOf({identifier, echo.identity.sequence}), echo);
    }
    return ticket;
}

Ticket EchoSocket::startV6(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
{
    if (family_ == Family::V6 || !openV6()) {
        const Ticket ticket = nextTicket_++;
        settleFailed(ticket, IP_GENERAL_FAILURE);
        return ticket;
    }
    v6_->nextTicket_ = nextTicket_;
    const Ticket ticket = v6_->start(destination, data, timeoutMs);
    nextTicket_ = v6_->nextTicket_;
    return ticket;
}

bool EchoSocket::send(const Pending& echo, std::span<const std::uint8_t> data)
{
    buildEchoRequest(request_, echo.identity.identifier, echo.identity.sequence, data, family_);
    // A request that fits the smallest link IPv4 allows goes out with Don't
    // Fragment set, which spares the kernel drawing an IP identifier for it:
    // a hash, a random number and a counter shared by every core, per
    // destination, which on loopback is a third of a send's cost. A larger
    // one may need fragments, which only the kernel's own mode allows, and
    // the socket keeps that mode from then on.
    constexpr std::size_t kFitsEveryLink = 68 - 20;
    // IPv6 routers never fragment: there is no such mode to leave.
    if (family_ == Family::V4 && request_.size() > kFitsEveryLink && !mayFragment_) {
        const int fragmentable = IP_PMTUDISC_WANT;
        mayFragment_ = setOption(fd_, SOL_IP, IP_MTU_DISCOVER, &fragmentable, sizeof fragmentable);
    }
    Peer to{};
    socklen_t toLength = sizeof to.v4;
    if (family_ == Family::V4) {
        to.v4.sin_family = AF_INET;
        to.v4.sin_addr.s_addr = echo.identity.destination.v4NetworkOrder();
    } else {
        to.v6.sin6_family = AF_INET6;
        std::memcpy(to.v6.sin6_addr.s6_addr, echo.identity.destination.bytes().data(), 16);
        toLength = sizeof to.v6;
    }
    for (bool retried = false;;) {
        if (::sendto(fd_, request_.data(), request_.size(), 0, reinterpret_cast<const sockaddr*>(&to), toLength) >= 0)
            return true;
        const int error = errno;
        if (error == EINTR)
            continue;
        // A datagram socket reports an ICMP error that arrived for an
        // earlier echo once more, as the failure of the next send. The
        // error queue explains it (and goes to the echo it names), and the
        // send is tried again. A send's own local error is queued too, and
        // must not wait there for a later echo.
        if (kind_ == SocketKind::Datagram && drainErrorQueue(fd_) > 0 && !retried) {
            retried = true;
            continue;
        }
        settleFailed(echo.ticket, statusFromErrno(error, family_));
        return false;
    }
}

std::size_t EchoSocket::drainErrorQueue(int fd)
{
    std::size_t explained = 0;
    while (receiveOne(fd, true, &explained)) {
    }
    return explained;
}

void EchoSocket::receiveAll(int fd)
{
    // Once nothing is in flight, whatever else is there can only be judged
    // stale; leaving it saves the receive that finds the socket empty, which
    // would cost the echo helper one system call per echo.
    while (!pending_.empty() && receiveOne(fd, false)) {
    }
}

bool EchoSocket::receiveOne(int fd, bool errorQueue, std::size_t* icmpErrors)
{
    Peer from{};
    iovec iov{buffer_.data(), buffer_.size()};
    alignas(cmsghdr) std::uint8_t control[512];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t length = ::recvmsg(fd, &message, MSG_DONTWAIT | (errorQueue ? MSG_ERRQUEUE : 0));
    if (length < 0) {
        if (errno == EINTR)
            return true;
        // A pending socket error stands for an entry of the error queue.
        if (!errorQueue && errno != EAGAIN && errno != EWOULDBLOCK) {
            drainErrorQueue(fd);
            return true;
        }
        return false;
    }
    const std::span<const std::uint8_t> bytes(buffer_.data(), std::min(static_cast<std::size_t>(length), buffer_.size()));
    const auto now = arrivedAt(message, Clock::now());
    if (kind_ == SocketKind::Raw && family_ == Family::V4) {
        judge(
            fd, echoNamedByRawPacket(bytes), [&](const EchoIdentity& echo) { return classifyRawPacket(bytes, echo); },
            now);
    } else if (kind_ == SocketKind::Raw) {
        judge(
            fd, echoNamedByRaw6(bytes),
            [&](const EchoIdentity& echo) {
                Verdict verdict = classifyRaw6(bytes, addressOf(from), echo);
                verdict.ttl = receivedTtl(message);
                return verdict;
            },
            now);
    } else if (errorQueue) {
        const QueuedError queued = queuedError(message, from, bytes);
        const bool icmp = queued.origin == QueuedError::Origin::Icmp || queued.origin == QueuedError::Origin::Icmp6;
        if (icmpErrors != nullptr && icmp)
            ++*icmpErrors;
        judge(
            fd, echoNamedByQueuedError(queued),
            [&](const EchoIdentity& echo) { return classifyQueuedError(queued, echo); }, now);
    } else {
        judge(
            fd, echoNamedByDatagram(bytes, family_),
            [&](const EchoIdentity& echo) {
                Verdict verdict = classifyDatagram(bytes, addressOf(from), echo);
                verdict.ttl = receivedTtl(message);
                return verdict;
            },
            now);
    }
    return true;
}

void EchoSocket::judge(int fd, std::optional<EchoKey> key, auto&& classify, Clock::time_point now)
{
    if (!key)
        return;
    const std::uint16_t identifier = kind_ == SocketKind::Raw ? key->identifier : 0;
    const auto found = pending_.find(keyOf({identifier, key->sequence}));
    // A datagram socket gets only what names its own identifier.
    if (found == pending_.end() || (kind_ == SocketKind::Datagram && found->second.fd != fd))
        return;
    const Verdict verdict = classify(found->second.identity);
    if (verdict.kind != Verdict::Kind::Ignore)
        settle(found, verdict, now);
}

void EchoSocket::settle(std::unordered_map<std::uint32_t, Pending>::iterator echo, const Verdict& verdict,
                        Clock::time_point now)
{
    Settled settled;
    settled.ticket = echo->second.ticket;
    settled.status = verdict.kind == Verdict::Kind::Reply ? IP_SUCCESS : verdict.status;
    settled.address = verdict.from;
    // The wall clock and the steady one may disagree by a hair.
    const Clock::duration roundTrip = std::max(now - echo->second.sent, Clock::duration::zero());
    settled.roundTripMs = elapsedMs(roundTrip);
    settled.roundTripUsPastMs =
        static_cast<std::uint16_t>(std::chrono::duration_cast<std::chrono::microseconds>(roundTrip).count() % 1000);
    settled.ttl = verdict.ttl;
    if (verdict.kind == Verdict::Kind::Reply)
        settled.data.assign(verdict.data.begin(), verdict.data.end());
    settled_.push_back(std::move(settled));
    if (echo->second.fd == retiring_)
        --retiringInFlight_;
    pending_.erase(echo);
    if (pending_.empty())
        quietSince_ = now;
}

void EchoSocket::settleFailed(Ticket ticket, std::int32_t status)
{
    Settled settled;
    settled.ticket = ticket;
    settled.status = status;
    settled_.push_back(std::move(settled));
    if (pending_.empty())
        quietSince_ = Clock::now();
}

void EchoSocket::expire(Clock::time_point now)
{
    if (now >= earliestDeadline_) {
        earliestDeadline_ = Clock::time_point::max();
        for (auto echo = pending_.begin(); echo != pending_.end();) {
            if (echo->second.deadline > now) {
                earliestDeadline_ = std::min(earliestDeadline_, echo->second.deadline);
                ++echo;
                continue;
            }
            Settled settled;
            settled.ticket = echo->second.ticket;
            settled.status = IP_REQ_TIMED_OUT;
            settled_.push_back(std::move(settled));
            if (echo->second.fd == retiring_)
                --retiringInFlight_;
            echo = pending_.erase(echo);
        }
    }
    if (pending_.empty())
        quietSince_ = std::max(quietSince_, now);
}

void EchoSocket::abandon(Ticket ticket)
{
    std::erase_if(settled_, [&](const Settled& settled) { return settled.ticket == ticket; });
    for (auto echo = pending_.begin(); echo != pending_.end(); ++echo)
        if (echo->second.ticket == ticket) {
            if (echo->second.fd == retiring_)
                --retiringInFlight_;
            pending_.erase(echo);
            break;
        }
    retireIfDone();
    if (v6_)
        v6_->abandon(ticket);
}

void EchoSocket::retireIfDone()
{
    if (retiring_ >= 0 && retiringInFlight_ == 0) {
        ::close(retiring_);
        retiring_ = -1;
    }
}

std::optional<Clock::time_point> EchoSocket::nextDeadline() const
{
    std::optional<Clock::time_point> earliest;
    if (!pending_.empty())
        earliest = earliestDeadline_;
    if (v6_)
        if (const auto other = v6_->nextDeadline(); other && (!earliest || *other < *earliest))
            earliest = other;
    return earliest;
}

void EchoSocket::collect(std::vector<Settled>& settled)
{
    if (!pending_.empty())
        receiveAll(fd_);
    if (retiring_ >= 0)
        receiveAll(retiring_);
    expire(Clock::now());
    retireIfDone();
    std::move(settled_.begin(), settled_.end(), std::back_inserter(settled));
    settled_.clear();
    if (v6_)
        v6_->collect(settled);
}

void EchoSocket::wait(Clock::time_point until) { wait(until, -1); }

void EchoSocket::wait(Clock::time_point until, int alsoWakeOn)
{
    const auto [v6, v6Retiring] = v6_ ? std::pair(v6_->fd_, v6_->retiring_) : std::pair(-1, -1);
    pollfd watch[5] = {{fd_, POLLIN, 0},
                       {retiring_, POLLIN, 0},
                       {alsoWakeOn, POLLIN, 0},
                       {v6, POLLIN, 0},
                       {v6Retiring, POLLIN, 0}};
    const auto slice = waitSlice(until - Clock::now());
    const timespec wait{static_cast<time_t>(slice.count() / 1000000000), static_cast<long>(slice.count() % 1000000000)};
    if (::ppoll(watch, v6_ ? 5 : 3, &wait, nullptr) <= 0)
        return;
    tidyAfterWait(watch[0].revents, watch[1].revents);
    if (v6_)
        v6_->tidyAfterWait(watch[3].revents, watch[4].revents);
}

// A local error in the queue sets no socket error, only POLLERR, which
// would wake every wait until it is read; so would what comes for the
// socket being replaced, which echo() does not read.
void EchoSocket::tidyAfterWait(short events, short retiringEvents)
{
    if (events & POLLERR)
        drainErrorQueue(fd_);
    if (retiring_ >= 0 && retiringEvents) {
        receiveAll(retiring_);
        drainErrorQueue(retiring_);
        retireIfDone();
    }
}

Settled EchoSocket::echo(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
{
    if (destination.family() != family_ && family_ == Family::V4 && openV6()) {
        v6_->nextTicket_ = nextTicket_;
        Settled settled = v6_->echo(destination, data, timeoutMs);
        nextTicket_ = v6_->nextTicket_;
        return settled;
    }
    // One reading of the clock serves the start and the wait.
    const auto now = Clock::now();
    const Ticket ticket = destination.family() == family_ ? startAt(destination, data, timeoutMs, now)
                                                          : start(destination, data, timeoutMs);
    const auto deadline = now + std::chrono::milliseconds(timeoutMs);
    // Receive before waiting: on a near host the answer is often there by
    // the time the send returns. One receive at a time, so that an answered
    // echo costs one send and one receive.
    for (;;) {
        if (auto settled = takeSettled(settled_, ticket))
            return std::move(*settled);
        if (receiveOne(fd_, false))
            continue;
        expire(Clock::now());
        if (auto settled = takeSettled(settled_, ticket))
            return std::move(*settled);
        wait(deadline);
    }
}

}  // namespace icmp
