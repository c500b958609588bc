#pragma once

#include "icmp/address.h"

#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace runs {

// Which addresses a host of the command line may be pinged at.
enum class AddressChoice {
    Usual,     // a literal in its own family, a name at its first IPv4 address
    Ipv4Only,  // -4: an IPv6 literal has no address
    Ipv6Names  // -6: a name at its first IPv6 address
};

// The address the host is pinged at; none when it has none. A name of the
// IPv4 kind goes to the platform's IPv4 look-up, as the window's does.
std::optional<icmp::Address> ResolveAddress(const QString& host, AddressChoice choice);

// Why the host may not be pinged, when it is an IPv6 address of the link's
// own (fe80::/10) or one with a zone (fe80::1%eth0): such an address needs
// an interface to go out of, which nothing here chooses, and a zone would
// send the text to the system's resolver. Nothing otherwise.
std::optional<QString> LinkLocalRefusal(QByteArrayView host);

// One name to resolve, owned by the caller; it must stay where it is until
// it is done or the pool is gone.
struct Lookup {
    QString host;
    std::optional<icmp::Address> address;  // ResolveAddress's answer, once done
    bool done = false;
};

// Resolves names with ResolveAddress on a few threads of its own, so that
// one slow look-up holds up neither the look-ups behind it nor the caller.
// The platform keeps every thread's host entry and dotted text apart.
//
// A name of digits and dots that does not end in a dot, and an IPv6
// literal, are answered without asking a name server (each is the address
// it spells, or none), so they are resolved at once on the calling thread:
// handing them to a thread and back would cost more than the look-up. The
// threads start with the first other name. Without threads, every name is
// resolved on the calling thread.
class ResolverPool {
public:
    ResolverPool(int threads, AddressChoice choice);
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
    const AddressChoice choice_;
    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::vector<Lookup*> gathered_;
    std::deque<Lookup*> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace runs
