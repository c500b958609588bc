#include "runs/host_pipeline.h"

#include "platform/msgbox.h"
#include "platform/net/network.h"
#include "probe/sockets.h"
#include "runs/echo_link.h"
#include "runs/ping_texts.h"
#include "runs/timeout.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <deque>
#include <exception>
#include <queue>
#include <thread>
#include <utility>
#include <vector>

namespace runs {
namespace {

// Names are looked up this far ahead of the echoes.
constexpr std::size_t kLookAheadPerEcho = 2;
constexpr std::size_t kLeastLookAhead = 256;
// The list is read this many hosts at a time, between starts: the
// resolving threads wake once a batch, and the echoes never wait long for
// the reading (a host takes about a microsecond to read, and a near host's
// echo not much more).
constexpr std::size_t kReadBatch = 64;
// Behind a host that does not answer, the hosts that settled wait for their
// turn: as many as this per echo in flight, a few bytes each, while the run
// goes on. With a tenth of the list silent, no echo waits for room.
constexpr std::size_t kWindowPerEcho = 16;
constexpr int kResolverThreads = 8;
// While only a look-up holds up the next echo, the echoes in flight are
// collected at this pace, so that neither waits long for the other.
constexpr std::chrono::milliseconds kResolvingPoll{1};
constexpr std::chrono::milliseconds kEchoWait{1000};
// inet_addr's answer for a text that is not an address: the window's run
// never sends to it, so neither does this one.
constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;
// A count run's hosts stay in the window for all their echoes, so that
// every host read is in the rotation, as fping keeps all of its own: room
// for the largest list a run takes, a few hundred bytes a host.
constexpr std::size_t kCountWindow = 131072;

// A host from its reading to its line.
struct Slot {
    Lookup lookup;
    int line = 0;
    int retriesLeft = 0;
    bool settled = false;
    HostResult result;  // once settled
    // A count run's: echoes still to start and in flight, the next one's
    // number, and the last answer and the last echo lost.
    int echoesLeft = 0;
    int inFlight = 0;
    int nextSeq = 0;
    EchoStatistics statistics;
    HostResult answer;
    HostResult lost;
    int lostSeq = -1;
};

// A count run's next echo to a host, when its interval has passed. Ties
// keep the order they were queued in.
struct Due {
    icmp::Clock::time_point at;
    std::uint64_t order;
    Slot* slot;
    bool operator>(const Due& other) const { return at != other.at ? at > other.at : order > other.order; }
};

class Pipeline {
public:
    Pipeline(const PipelineHosts& hosts, const PipelineOptions& options)
        : hosts_(hosts),
          options_(options),
          parallel_(static_cast<std::size_t>(std::clamp(options.parallel, 1, kMostParallelEchoes))),
          // One host at a time is read only once the one above it is
          // written, as the window reads its list: a list changed behind
          // it is then caught where the window catches it.
          readBatch_(parallel_ == 1 ? 1 : kReadBatch),
          lookAhead_(parallel_ == 1 ? 1 : std::max(parallel_ * kLookAheadPerEcho, kLeastLookAhead)),
          window_(options.count > 0 ? std::max(kCountWindow, parallel_ * kWindowPerEcho + lookAhead_)
                                    : parallel_ * kWindowPerEcho + lookAhead_),
          interval_(std::chrono::milliseconds(options.intervalMs)),
          echoes_(parallel_ == 1),
          // One host at a time waits for its look-up whoever makes it: the
          // calling thread then costs least.
          resolver_(parallel_ == 1 ? 0 : std::min(static_cast<int>(parallel_), kResolverThreads), options.addresses)
    {
    }

    int Go()
    {
        for (;;) {
            ReadAhead();
            StartEchoes();
            WriteSettled();
            if (slots_.empty() && (listEnded_ || stopped_))
                break;
            Wait();
        }
        if (stopped_)
            std::rethrow_exception(stopped_);
        return settled_;
    }

private:
    // The window's steps before the echo, for every host read, with the
    // timeout converted before the look-up rather than after it: a bad
    // timeout ends the run before any name has been looked up. An error
    // stops the reading only: the hosts above it still get their echoes and
    // lines before it ends the run.
    void ReadAhead()
    {
        if (!MayReadAhead())
            return;
        for (std::size_t read = 0; read < readBatch_ && MayRead(); ++read) {
            try {
                const std::optional<QString> host = hosts_.nextHost();
                if (!host) {
                    listEnded_ = true;
                    break;
                }
                ++linesRead_;
                if (!StartSockets()) {
                    platform::MsgBox(kSocketsNotResponding);
                    continue;
                }
                if (!timeout_)
                    timeout_ = static_cast<std::uint32_t>(TimeoutMilliseconds(options_.timeoutText));
                Slot& slot = slots_.emplace_back();
                slot.lookup.host = *host;
                slot.line = linesRead_;
                slot.retriesLeft = options_.retries;
                slot.echoesLeft = options_.count;
                if (hosts_.read)
                    hosts_.read(slot.line, slot.lookup.host);
                resolver_.Resolve(slot.lookup);
            } catch (...) {
                stopped_ = std::current_exception();
            }
        }
        resolver_.Flush();
    }

    // Room for one more host read ahead of the echoes.
    bool MayRead() const
    {
        return !listEnded_ && !stopped_ && slots_.size() < window_ && slots_.size() - nextEcho_ < lookAhead_;
    }
    // Room for a batch.
    bool MayReadAhead() const { return MayRead() && slots_.size() - nextEcho_ + readBatch_ <= lookAhead_; }

    // In list order: a host whose name is still being looked up holds up
    // the hosts behind it. A retry goes first, as the output waits for it.
    // One host at a time settles where it starts, and its line is written
    // before the next echo, as in the window's run.
    void StartEchoes()
    {
        const bool oneAtATime = parallel_ == 1;
        // Before an echo that may be waited for here.
        if (oneAtATime)
            ShowProgress();
        while (!due_.empty() && echoes_.InFlight() < parallel_ && due_.top().at <= icmp::Clock::now()) {
            Slot& slot = *due_.top().slot;
            due_.pop();
            StartCounted(slot);
            if (oneAtATime)
                return;
        }
        while (!retrying_.empty() && echoes_.InFlight() < parallel_) {
            Slot& slot = *retrying_.front();
            retrying_.pop_front();
            StartEcho(slot);
            if (oneAtATime)
                return;
        }
        while (retrying_.empty() && nextEcho_ < slots_.size() && echoes_.InFlight() < parallel_) {
            Slot& slot = slots_[nextEcho_];
            if (!resolver_.Done(slot.lookup))
                break;
            ++nextEcho_;
            if (!slot.lookup.address || slot.lookup.address == icmp::Address::v4(kNoAddress))
                Settle(slot, noAddress_);
            else if (counting())
                StartCounted(slot);
            else
                StartEcho(slot);
            if (oneAtATime)
                return;
        }
    }

    void StartEcho(Slot& slot)
    {
        const int seq = options_.retries - slot.retriesLeft;
        if (hosts_.sending)
            hosts_.sending(slot.line, seq);
        if (std::optional<icmp::Settled> atOnce = echoes_.Start(*slot.lookup.address, *timeout_, &slot, seq))
            EchoEnded(slot, *atOnce, seq);
    }

    bool counting() const { return options_.count > 0; }

    // The next one goes out an interval after this one, whether or not
    // this one has come back, as fping and ping pace theirs.
    void StartCounted(Slot& slot)
    {
        const int seq = slot.nextSeq++;
        --slot.echoesLeft;
        ++slot.inFlight;
        slot.statistics.Sent();
        if (hosts_.sending)
            hosts_.sending(slot.line, seq);
        if (slot.echoesLeft > 0)
            due_.push({icmp::Clock::now() + interval_, dueOrder_++, &slot});
        if (std::optional<icmp::Settled> atOnce = echoes_.Start(*slot.lookup.address, *timeout_, &slot, seq))
            CountedEchoEnded(slot, *atOnce, seq);
    }

    // A host settles with its last echo. Its retries go to a host none of
    // whose echoes came back, while its last one timed out: the verdict
    // the output gives, not the statistics, is what a retry is for.
    void CountedEchoEnded(Slot& slot, const icmp::Settled& echo, int seq)
    {
        --slot.inFlight;
        HostResult result = ResultOf(slot.line, slot.lookup.host, *slot.lookup.address, echo);
        if (result.status == 0 && result.roundTripUs)
            slot.statistics.Answered(*result.roundTripUs);
        Echoed(result, seq);
        if (result.status == 0) {
            slot.answer = std::move(result);
        } else if (seq > slot.lostSeq) {
            slot.lost = std::move(result);
            slot.lostSeq = seq;
        }
        if (slot.echoesLeft > 0 || slot.inFlight > 0)
            return;
        if (slot.statistics.received() == 0 && echo.status == platform::IP_REQ_TIMED_OUT && slot.retriesLeft > 0) {
            --slot.retriesLeft;
            ++slot.echoesLeft;
            due_.push({icmp::Clock::now(), dueOrder_++, &slot});
            return;
        }
        slot.result = slot.statistics.received() > 0 ? slot.answer : slot.lost;
        slot.result.echoes = slot.statistics;
        slot.result.lostStatus = slot.lost.status;
        Settled(slot);
    }

    void Echoed(const HostResult& result, int seq)
    {
        if (!hosts_.echoed)
            return;
        hosts_.echoed(result, seq);
        echoesHandedOver_ = true;
    }

    // A timed-out echo is started again while the host has retries left;
    // only its last echo settles the host. The slot stays where it is in
    // the list (a deque keeps references to its elements while it grows at
    // the back and shrinks at the front, and an unsettled slot is never
    // popped).
    void EchoEnded(Slot& slot, const icmp::Settled& echo, int seq)
    {
        if (hosts_.echoed)
            Echoed(ResultOf(slot.line, slot.lookup.host, *slot.lookup.address, echo), seq);
        if (echo.status == platform::IP_REQ_TIMED_OUT && slot.retriesLeft > 0) {
            --slot.retriesLeft;
            retrying_.push_back(&slot);
            return;
        }
        Settle(slot, echo);
    }

    void Settle(Slot& slot, const icmp::Settled& echo)
    {
        if (slot.lookup.address && echo.status != -1) {
            slot.result = ResultOf(slot.line, slot.lookup.host, *slot.lookup.address, echo);
        } else {
            slot.result.line = slot.line;
            slot.result.host = slot.lookup.host;
            slot.result.status = echo.status;
        }
        if (counting())
            slot.result.echoes = slot.statistics;
        Settled(slot);
    }

    void Settled(Slot& slot)
    {
        slot.settled = true;
        lastHost_ = slot.lookup.host;
        ++settled_;
        StopSockets();
    }

    void WriteSettled()
    {
        bool handedOver = std::exchange(echoesHandedOver_, false);
        while (!slots_.empty() && slots_.front().settled) {
            hosts_.settled(slots_.front().result);
            handedOver = true;
            slots_.pop_front();
            --nextEcho_;
        }
        if (handedOver && hosts_.written)
            hosts_.written();
        ShowProgress();
    }

    // Whenever hosts have settled or the output waits for another host;
    // between two hosts read one at a time, the next one's turn says both.
    void ShowProgress()
    {
        if (!hosts_.progress || (slots_.empty() && (settled_ == 0 || !(listEnded_ || stopped_))))
            return;
        const int front = slots_.empty() ? 0 : slots_.front().line;
        if (settled_ == reported_ && front == reportedFront_)
            return;
        reported_ = settled_;
        reportedFront_ = front;
        hosts_.progress(settled_, slots_.empty() ? lastHost_ : slots_.front().lookup.host);
    }

    // A count run's next echo is due in this long (none: none is); no
    // wait of the run's lasts past it.
    std::optional<icmp::Clock::duration> UntilDue() const
    {
        if (due_.empty())
            return std::nullopt;
        return std::max(due_.top().at - icmp::Clock::now(), icmp::Clock::duration::zero());
    }

    void Wait()
    {
        const std::optional<icmp::Clock::duration> untilDue = UntilDue();
        if (echoes_.InFlight() == 0) {
            if (nextEcho_ < slots_.size() && untilDue)
                resolver_.WaitFor(slots_[nextEcho_].lookup, std::chrono::ceil<std::chrono::milliseconds>(*untilDue));
            else if (nextEcho_ < slots_.size())
                resolver_.WaitFor(slots_[nextEcho_].lookup);
            else if (untilDue && !MayReadAhead())
                std::this_thread::sleep_for(*untilDue);
            return;
        }
        const bool resolving = nextEcho_ < slots_.size() && echoes_.InFlight() < parallel_;
        if (resolving)
            resolver_.WaitFor(slots_[nextEcho_].lookup, kResolvingPoll);
        collected_.clear();
        icmp::Clock::duration wait = resolving || MayReadAhead() ? icmp::Clock::duration::zero() : kEchoWait;
        if (untilDue)
            wait = std::min(wait, *untilDue);
        echoes_.Collect(wait, collected_);
        for (EchoLink::Collected& settled : collected_) {
            Slot& slot = *static_cast<Slot*>(settled.context);
            if (counting())
                CountedEchoEnded(slot, settled.echo, settled.seq);
            else
                EchoEnded(slot, settled.echo, settled.seq);
        }
    }

    const PipelineHosts& hosts_;
    const PipelineOptions& options_;
    const std::size_t parallel_;
    const std::size_t readBatch_;
    const std::size_t lookAhead_;
    const std::size_t window_;
    const icmp::Clock::duration interval_;
    const icmp::Settled noAddress_ = [] {
        icmp::Settled none;
        none.status = -1;
        return none;
    }();
    std::optional<std::uint32_t> timeout_;
    // Declared before the echoes and the look-ups, which point into them
    // and so must end first.
    std::deque<Slot> slots_;      // read and not yet written, in list order
    std::deque<Slot*> retrying_;  // timed out, to be started again
    std::priority_queue<Due, std::vector<Due>, std::greater<>> due_;
    std::vector<EchoLink::Collected> collected_;
    EchoLink echoes_;
    ResolverPool resolver_;

    std::size_t nextEcho_ = 0;  // the first slot whose echo has not started
    bool listEnded_ = false;
    std::exception_ptr stopped_;
    int linesRead_ = 0;
    int settled_ = 0;
    int reported_ = -1;  // so that the first host shows before any settles
    int reportedFront_ = 0;
    QString lastHost_;
    std::uint64_t dueOrder_ = 0;
    bool echoesHandedOver_ = false;
};

}  // namespace

int RunPipeline(const PipelineHosts& hosts, const PipelineOptions& options) { return Pipeline(hosts, options).Go(); }

}  // namespace runs
