#include "icmp/echo_lanes.h"

#include <algorithm>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace icmp {
namespace {

// More lanes than this would only share the cores with the caller.
constexpr unsigned kMostLanes = 4;

void wakeUp(int eventFd)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(eventFd, &one, sizeof one);
}

void drain(int eventFd)
{
    std::uint64_t count;
    [[maybe_unused]] const ssize_t read = ::read(eventFd, &count, sizeof count);
}

}  // namespace

void EchoLanes::Batch::clear()
{
    requests.clear();
    data.clear();
}

std::unique_ptr<EchoLanes> EchoLanes::open(SocketKind kind, unsigned count)
{
    auto own = EchoSocket::open(kind);
    if (!own || count == 0)
        return nullptr;
    std::vector<std::unique_ptr<Lane>> lanes;
    for (unsigned i = 0; i < count; ++i) {
        auto lane = std::make_unique<Lane>();
        lane->socket = EchoSocket::open(own->kind());
        lane->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        const bool ready = lane->socket && lane->wake >= 0;
        lanes.push_back(std::move(lane));
        if (!ready) {
            for (const auto& opened : lanes)
                if (opened->wake >= 0)
                    ::close(opened->wake);
            return nullptr;
        }
    }
    return std::unique_ptr<EchoLanes>(new EchoLanes(std::move(own), std::move(lanes)));
}

std::unique_ptr<EchoTransport> EchoLanes::openForThisMachine()
{
    auto own = EchoSocket::open();
    const unsigned cores = std::thread::hardware_concurrency();
    if (own && cores > 1)
        if (auto lanes = open(own->kind(), std::min(cores, kMostLanes)))
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
        wakeUp(lane->wake);
        if (lane->thread.joinable())
            lane->thread.join();
        ::close(lane->wake);
    }
}

void EchoLanes::startLanes()
{
    started_ = true;
    for (std::size_t index = 0; index < lanes_.size(); ++index)
        lanes_[index]->thread = std::thread([this, index] { run(index); });
}

// Dealt in turn, so that every lane carries its share of a burst. A lane's
// socket numbers its starts from 1 (see EchoSocket::start), so the ticket
// is known before the lane has started the echo: the lane's count of
// starts, then the lane. A lane at work takes what it is handed at its
// next turn, which makes a lock the whole cost of a hand-over; only a
// sleeping lane is woken.
Ticket EchoLanes::start(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
{
    if (!started_)
        startLanes();
    const std::size_t index = nextLane_;
    nextLane_ = (nextLane_ + 1) % lanes_.size();
    Lane& lane = *lanes_[index];
    bool sleeping;
    {
        std::lock_guard lock(lane.mutex);
        lane.inbox.requests.push_back({destination, timeoutMs, lane.inbox.data.size(), data.size()});
        lane.inbox.data.insert(lane.inbox.data.end(), data.begin(), data.end());
        // Woken once, however many echoes come before it is up.
        sleeping = std::exchange(lane.sleeping, false);
    }
    if (sleeping)
        wakeUp(lane.wake);
    ++inFlight_;
    return ++lane.started * lanes_.size() + index;
}

// The echo still runs its course in its lane; only its record is dropped.
void EchoLanes::abandon(Ticket ticket)
{
    if (abandoned_.insert(ticket).second && inFlight_ > 0)
        --inFlight_;
}

std::optional<Clock::time_point> EchoLanes::nextDeadline() const
{
    if (inFlight_ == 0)
        return std::nullopt;
    Clock::rep earliest = kNoDeadline;
    for (const auto& lane : lanes_)
        earliest = std::min(earliest, lane->nextDeadline.load(std::memory_order_relaxed));
    if (earliest == kNoDeadline)
        return std::nullopt;
    return Clock::time_point(Clock::duration(earliest));
}

void EchoLanes::collect(std::vector<Settled>& settled) { takeSettled(settled); }

// The lanes see to the deadlines: an echo that times out in a lane wakes
// this wait like an answer.
void EchoLanes::wait(Clock::time_point until)
{
    std::unique_lock lock(settledMutex_);
    settledReady_.wait_until(lock, until, [this] { return !settled_.empty(); });
}

void EchoLanes::takeSettled(std::vector<Settled>& settled)
{
    std::vector<Settled> taken;
    {
        std::lock_guard lock(settledMutex_);
        taken.swap(settled_);
    }
    for (Settled& echo : taken) {
        if (!abandoned_.empty() && abandoned_.erase(echo.ticket) > 0)
            continue;
        --inFlight_;
        settled.push_back(std::move(echo));
    }
}

Settled EchoLanes::echo(std::uint32_t destination, std::span<const std::uint8_t> data, std::uint32_t timeoutMs)
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
    const std::size_t lanes = lanes_.size();
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
                echo.ticket = echo.ticket * lanes + index;
            {
                std::lock_guard lock(settledMutex_);
                std::move(settled.begin(), settled.end(), std::back_inserter(settled_));
            }
            settledReady_.notify_one();
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
            lane.socket->wait(*deadline, lane.wake);
        } else {
            pollfd watch{lane.wake, POLLIN, 0};
            ::poll(&watch, 1, -1);
        }
        drain(lane.wake);
        std::lock_guard lock(lane.mutex);
        lane.sleeping = false;
    }
}

}  // namespace icmp
