#include "icmp/echo_lanes.h"

#include "icmp/cores.h"

#include <algorithm>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace icmp {
namespace {

// More threads than this would only share the cores with the caller.
constexpr unsigned kMostThreads = 3;
// A lane with this many echoes waiting to start leaves the next one to the
// caller. The caller hands echoes over far faster than a lane sends them,
// so without a bound it would only queue them; this many are some 0.2 ms
// of a lane's work on loopback, so a lane at work never runs dry between
// hand-overs, while the caller sends the rest itself.
constexpr std::size_t kMostWaiting = 64;

}  // namespace

EchoLanes::WakeUp::WakeUp() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

EchoLanes::WakeUp::~WakeUp()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void EchoLanes::WakeUp::give() const
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
}

void EchoLanes::WakeUp::take() const
{
    std::uint64_t count;
    [[maybe_unused]] const ssize_t read = ::read(fd_, &count, sizeof count);
}

void EchoLanes::Batch::clear()
{
    requests.clear();
    data.clear();
}

std::unique_ptr<EchoLanes> EchoLanes::open(SocketKind kind, unsigned threads)
{
    auto own = EchoSocket::open(kind);
    bool opened = own && threads > 0;
    std::vector<std::unique_ptr<Lane>> lanes;
    for (unsigned i = 0; opened && i < threads; ++i) {
        auto& lane = lanes.emplace_back(std::make_unique<Lane>());
        lane->socket = EchoSocket::open(kind);
        opened = lane->socket && lane->wake.valid();
    }
    if (!opened)
        return nullptr;
    std::unique_ptr<EchoLanes> made(new EchoLanes(std::move(own), std::move(lanes)));
    return made->ready_.valid() ? std::move(made) : nullptr;
}

std::unique_ptr<EchoTransport> EchoLanes::openForThisMachine()
{
    auto own = EchoSocket::open();
    const unsigned cores = usableCores();
    if (own && cores > 1)
        if (auto lanes = open(own->kind(), std::min(cores - 1, kMostThreads)))
            return lanes;
    return own;
}

EchoLanes::EchoLanes(std::unique_ptr<EchoSocket> own, std::vector<std::unique_ptr<Lane>> lanes)
    : own_(std::move(own)), lanes_(std::move(lanes))
{
}

EchoLanes::~EchoLanes()
{
    for (const auto& lane : lanes_) {
        {
            std::lock_guard lock(lane->mutex);
            lane->stopping = true;
        }
        lane->wake.give();
        if (lane->thread.joinable())
            lane->thread.join();
    }
}

void EchoLanes::startThreads()
{
    started_ = true;
    for (std::size_t index = 0; index < lanes_.size(); ++index)
        lanes_[index]->thread = std::thread([this, index] { run(index); });
}

// Dealt in turn, so that every lane carries its share of a burst; a lane
// that has more waiting than it will soon take leaves the echo to the
// caller. A lane's socket numbers its starts from 1 (see EchoSocket::start),
// so the ticket is known before the lane has started the echo.
Ticket EchoLanes::start(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
{
    if (!started_)
        startThreads();
    // An echo with no other in flight stays with the caller: a run of one
    // echo at a time would otherwise pay a hand-over and a wake-up each.
    const bool alone = inFlight_ == 0;
    ++inFlight_;
    if (!alone) {
        const std::size_t index = nextLane_;
        nextLane_ = (nextLane_ + 1) % lanes_.size();
        Lane& lane = *lanes_[index];
        if (handOver(lane, destination, data, timeoutMs))
            return ticketOf(++lane.started, index);
    }
    return ticketOf(own_->start(destination, data, timeoutMs), lanes_.size());
}

// A lock is the whole cost while the lane is at work; only a sleeping lane
// is woken, once, however many echoes come before it is up.
bool EchoLanes::handOver(Lane& lane, const Address& destination, std::span<const std::uint8_t> data,
                         std::uint32_t timeoutMs)
{
    bool sleeping;
    {
        std::lock_guard lock(lane.mutex);
        if (lane.inbox.requests.size() >= kMostWaiting)
            return false;
        lane.inbox.requests.push_back({destination, timeoutMs, lane.inbox.data.size(), data.size()});
        lane.inbox.data.insert(lane.inbox.data.end(), data.begin(), data.end());
        sleeping = std::exchange(lane.sleeping, false);
    }
    if (sleeping)
        lane.wake.give();
    return true;
}

// An echo of the caller's lane is abandoned there; one in another lane
// runs its course, and only its record is dropped.
void EchoLanes::abandon(Ticket ticket)
{
    const std::size_t lane = ticket % (lanes_.size() + 1);
    if (lane == lanes_.size()) {
        own_->abandon(ticket / (lanes_.size() + 1));
    } else if (!abandoned_.insert(ticket).second) {
        return;
    }
    if (inFlight_ > 0)
        --inFlight_;
}

std::optional<Clock::time_point> EchoLanes::nextDeadline() const
{
    if (inFlight_ == 0)
        return std::nullopt;
    Clock::rep earliest = kNoDeadline;
    if (const auto own = own_->nextDeadline())
        earliest = own->time_since_epoch().count();
    for (const auto& lane : lanes_)
        earliest = std::min(earliest, lane->nextDeadline.load(std::memory_order_relaxed));
    if (earliest == kNoDeadline)
        return std::nullopt;
    return Clock::time_point(Clock::duration(earliest));
}

void EchoLanes::collect(std::vector<Settled>& settled)
{
    own_->collect(taken_);
    for (Settled& echo : taken_)
        echo.ticket = ticketOf(echo.ticket, lanes_.size());
    take(taken_, settled);
    {
        std::lock_guard lock(settledMutex_);
        taken_.swap(settled_);
    }
    take(taken_, settled);
}

void EchoLanes::take(std::vector<Settled>& from, std::vector<Settled>& to)
{
    for (Settled& echo : from) {
        if (!abandoned_.empty() && abandoned_.erase(echo.ticket) > 0)
            continue;
        --inFlight_;
        to.push_back(std::move(echo));
    }
    from.clear();
}

// Until the caller's socket has something, or a lane has settled an echo
// (an echo that times out in a lane counts), or the time given.
void EchoLanes::wait(Clock::time_point until)
{
    {
        std::lock_guard lock(settledMutex_);
        if (!settled_.empty())
            return;
        callerWaiting_ = true;
    }
    if (own_->inFlight() > 0) {
        own_->wait(until, ready_.descriptor());
    } else {
        const auto slice = waitSlice(until - Clock::now());
        const timespec wait{static_cast<time_t>(slice.count() / 1000000000),
                            static_cast<long>(slice.count() % 1000000000)};
        pollfd watch{ready_.descriptor(), POLLIN, 0};
        ::ppoll(&watch, 1, &wait, nullptr);
    }
    {
        std::lock_guard lock(settledMutex_);
        callerWaiting_ = false;
    }
    ready_.take();
}

Settled EchoLanes::echo(const Address& destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
{
    return own_->echo(destination, data, timeoutMs);
}

// A lane: starts what it is handed, takes in what comes back, and sleeps
// only when it has neither, on its socket while echoes are in flight and
// on its wake-up alone while none are (an idle socket's stray packets,
// which no collection reads then, would otherwise wake it at once, again
// and again).
void EchoLanes::run(std::size_t index)
{
    Lane& lane = *lanes_[index];
    Batch work;
    std::vector<Settled> settled;
    for (;;) {
        {
            std::lock_guard lock(lane.mutex);
            if (lane.stopping)
                return;
            std::swap(work, lane.inbox);
        }
        const bool tookWork = !work.requests.empty();
        for (const Request& request : work.requests)
            lane.socket->start(request.destination,
                               std::span(work.data).subspan(request.dataOffset, request.dataSize), request.timeoutMs);
        work.clear();
        lane.socket->collect(settled);
        const auto deadline = lane.socket->nextDeadline();
        lane.nextDeadline.store(deadline ? deadline->time_since_epoch().count() : kNoDeadline, std::memory_order_relaxed);
        const bool settledSome = !settled.empty();
        if (settledSome) {
            for (Settled& echo : settled)
                echo.ticket = ticketOf(echo.ticket, index);
            bool callerWaiting;
            {
                std::lock_guard lock(settledMutex_);
                std::move(settled.begin(), settled.end(), std::back_inserter(settled_));
                callerWaiting = std::exchange(callerWaiting_, false);
            }
            if (callerWaiting)
                ready_.give();
            settled.clear();
        }
        if (tookWork || settledSome)
            continue;
        {
            std::lock_guard lock(lane.mutex);
            if (lane.stopping || !lane.inbox.requests.empty())
                continue;
            lane.sleeping = true;
        }
        if (deadline) {
            lane.socket->wait(*deadline, lane.wake.descriptor());
        } else {
            pollfd watch{lane.wake.descriptor(), POLLIN, 0};
            ::poll(&watch, 1, -1);
        }
        lane.wake.take();
        std::lock_guard lock(lane.mutex);
        lane.sleeping = false;
    }
}

}  // namespace icmp
