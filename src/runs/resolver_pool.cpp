#include "runs/resolver_pool.h"

#include "platform/ansi.h"
#include "platform/net/network.h"
#include "probe/sockets.h"

#include <algorithm>

namespace runs {
namespace {

bool dottedDigits(const QString& name)
{
    return !name.isEmpty() && !name.endsWith(u'.') &&
           std::all_of(name.begin(), name.end(), [](QChar c) { return c == u'.' || (c >= u'0' && c <= u'9'); });
}

// No name has a colon, so only an IPv6 literal is looked at twice.
std::optional<icmp::Address> ipv6Literal(const QString& host)
{
    if (!host.contains(u':'))
        return std::nullopt;
    const std::optional<icmp::Address> literal = icmp::Address::parse(platform::toAnsi(host).toStdString());
    return literal && literal->isV6() ? literal : std::nullopt;
}

bool answeredAtOnce(const QString& host) { return dottedDigits(host) || ipv6Literal(host); }

}  // namespace

std::optional<icmp::Address> ResolveAddress(const QString& host, AddressChoice choice)
{
    if (const std::optional<icmp::Address> literal = ipv6Literal(host))
        return choice == AddressChoice::Ipv4Only ? std::nullopt : literal;
    if (choice == AddressChoice::Ipv6Names && !dottedDigits(host))
        return platform::FirstAddress(platform::toAnsi(host).constData(), icmp::Family::V6);
    return ResolveHostAddress(host);
}

std::optional<QString> LinkLocalRefusal(QByteArrayView host)
{
    if (!host.contains(':'))
        return std::nullopt;
    const qsizetype zone = host.indexOf('%');
    const std::optional<icmp::Address> address =
        icmp::Address::parse(std::string_view(host.data(), zone < 0 ? host.size() : zone));
    if (!address || !address->isV6() ||
        (zone < 0 && (address->bytes()[0] != 0xfe || (address->bytes()[1] & 0xc0) != 0x80)))
        return std::nullopt;
    return QStringLiteral("a link-local address (fe80::/10, or one with a %zone), which Quorvex does not ping");
}

ResolverPool::ResolverPool(int threads, AddressChoice choice) : threadCount_(threads), choice_(choice) {}

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

// No thread has seen the lookup yet, so it is written without the lock.
void ResolverPool::Resolve(Lookup& lookup)
{
    if (threadCount_ == 0 || answeredAtOnce(lookup.host)) {
        lookup.address = ResolveAddress(lookup.host, choice_);
        lookup.done = true;
        return;
    }
    gathered_.push_back(&lookup);
}

void ResolverPool::Flush()
{
    if (gathered_.empty())
        return;
    if (threads_.empty()) {
        threads_.reserve(static_cast<std::size_t>(threadCount_));
        for (int i = 0; i < threadCount_; ++i)
            threads_.emplace_back([this] { Work(); });
    }
    {
        std::lock_guard lock(mutex_);
        queue_.insert(queue_.end(), gathered_.begin(), gathered_.end());
    }
    gathered_.clear();
    work_.notify_all();
}

bool ResolverPool::Done(const Lookup& lookup)
{
    // Without threads, every look-up was answered on this one.
    if (threads_.empty())
        return lookup.done;
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
        const std::optional<icmp::Address> address = ResolveAddress(host, choice_);
        lock.lock();
        lookup->address = address;
        lookup->done = true;
        done_.notify_all();
    }
}

}  // namespace runs
