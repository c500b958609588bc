#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace runs {

// One name to resolve, owned by the caller; it must stay where it is until
// it is done or the pool is gone.
struct Lookup {
    QString host;
    QString address;  // ResolveHostName's answer, once done
    bool done = false;
};

// Resolves names with ResolveHostName on a few threads of its own, so that
// one slow look-up holds up neither the look-ups behind it nor the caller.
// The platform keeps every thread's host entry and dotted text apart.
//
// A name of digits and dots that does not end in a dot is answered without
// asking a name server (it is the address it spells, or none), so it is
// resolved at once on the calling thread: handing it to a thread and back
// would cost more than the look-up. The threads start with the first other
// name.
class ResolverPool {
public:
    explicit ResolverPool(int threads);
    // Lets the look-ups in progress finish; the queued ones are dropped.
    ~ResolverPool();
    ResolverPool(const ResolverPool&) = delete;
    ResolverPool& operator=(const ResolverPool&) = delete;

    // Queued until Flush, so that a batch of names costs one wake-up.
    void Resolve(Lookup& lookup);
    void Flush();

    bool Done(const Lookup& lookup);
    void WaitFor(const Lookup& lookup);
    void WaitFor(const Lookup& lookup, std::chrono::milliseconds limit);

private:
    void Work();

    const int threadCount_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::vector<Lookup*> gathered_;
    std::deque<Lookup*> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace runs
