#include "runs/resolver_pool.h"

#include "probe/sockets.h"

namespace runs {

ResolverPool::ResolverPool(int threads)
{
    threads_.reserve(static_cast<std::size_t>(threads));
    for (int i = 0; i < threads; ++i)
        threads_.emplace_back([this] { Work(); });
}

ResolverPool::~ResolverPool()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_.notify_all();
    for (auto& thread : threads_)
        thread.join();
}

void ResolverPool::Resolve(Lookup& lookup) { gathered_.push_back(&lookup); }

void ResolverPool::Flush()
{
    if (gathered_.empty())
        return;
    {
        std::lock_guard lock(mutex_);
        queue_.insert(queue_.end(), gathered_.begin(), gathered_.end());
    }
    gathered_.clear();
    work_.notify_all();
}

bool ResolverPool::Done(const Lookup& lookup)
{
    std::lock_guard lock(mutex_);
    return lookup.done;
}

void ResolverPool::WaitFor(const Lookup& lookup)
{
    Flush();
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return lookup.done; });
}

void ResolverPool::WaitFor(const Lookup& lookup, std::chrono::milliseconds limit)
{
    Flush();
    std::unique_lock lock(mutex_);
    done_.wait_for(lock, limit, [&] { return lookup.done; });
}

void ResolverPool::Work()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_)
            return;
        Lookup* const lookup = queue_.front();
        queue_.pop_front();
        const QString host = lookup->host;
        lock.unlock();
        const QString address = ResolveHostName(host);
        lock.lock();
        lookup->address = address;
        lookup->done = true;
        done_.notify_all();
    }
}

}  // namespace runs
