#include "app/echo_report.h"

#include "app/console.h"
#include "platform/ansi.h"
#include "platform/net/network.h"

#include <algorithm>
#include <cstdio>

namespace app {

EchoReport::Host* EchoReport::find(int line)
{
    const auto found =
        std::lower_bound(hosts_.begin(), hosts_.end(), line, [](const Host& host, int l) { return host.line < l; });
    return found == hosts_.end() || found->line != line ? nullptr : &*found;
}

void EchoReport::holdIfFrozen(std::unique_lock<std::mutex>& lock)
{
    never_.wait(lock, [this] { return !frozen_; });
}

void EchoReport::Read(int line, const QString& host)
{
    std::unique_lock lock(mutex_);
    holdIfFrozen(lock);
    hosts_.push_back({.line = line, .name = host, .statistics = {}, .roundTripsUs = {}, .noAddress = false});
}

void EchoReport::Sending(int line, int seq)
{
    std::unique_lock lock(mutex_);
    holdIfFrozen(lock);
    all_.Sent();
    Host* host = find(line);
    if (!host)
        return;
    host->statistics.Sent();
    if (lines_ == HostLines::RoundTrips && seq >= 0) {
        if (host->roundTripsUs.size() <= static_cast<std::size_t>(seq))
            host->roundTripsUs.resize(static_cast<std::size_t>(seq) + 1, runs::kNoRoundTrip);
    }
}

void EchoReport::Echoed(const runs::HostResult& echo, int seq)
{
    std::unique_lock lock(mutex_);
    holdIfFrozen(lock);
    if (echo.status == platform::IP_REQ_TIMED_OUT)
        ++timeouts_;
    else if (echo.status != 0 && echo.router)
        ++otherIcmp_;
    if (echo.status != 0 || !echo.roundTripUs)
        return;
    all_.Answered(*echo.roundTripUs);
    Host* host = find(echo.line);
    if (!host)
        return;
    host->statistics.Answered(*echo.roundTripUs);
    if (seq >= 0 && static_cast<std::size_t>(seq) < host->roundTripsUs.size())
        host->roundTripsUs[static_cast<std::size_t>(seq)] = static_cast<std::int64_t>(*echo.roundTripUs);
}

void EchoReport::Settled(const runs::HostResult& result)
{
    std::unique_lock lock(mutex_);
    holdIfFrozen(lock);
    if (Host* host = find(result.line))
        host->noAddress = !result.address;
}

void EchoReport::Freeze()
{
    const std::lock_guard lock(mutex_);
    frozen_ = true;
}

QByteArray EchoReport::Lines(bool terminal)
{
    const std::lock_guard lock(mutex_);
    if (lines_ == HostLines::None)
        return {};
    std::vector<QByteArray> names;
    names.reserve(hosts_.size());
    qsizetype width = 0;
    for (const Host& host : hosts_) {
        QByteArray name = platform::toAnsi(host.name);
        names.push_back(terminal ? TerminalText(name) : name);
        width = std::max(width, names.back().size());
    }
    QByteArray text;
    for (std::size_t i = 0; i < hosts_.size(); ++i) {
        text += lines_ == HostLines::Summary ? runs::FpingSummaryLine(names[i], width, hosts_[i].statistics)
                                             : runs::FpingRoundTripsLine(names[i], width, hosts_[i].roundTripsUs);
        text += '\n';
    }
    return text;
}

QByteArray EchoReport::Totals(std::chrono::steady_clock::time_point started)
{
    const std::lock_guard lock(mutex_);
    int alive = 0, unreachable = 0, noAddress = 0;
    for (const Host& host : hosts_)
        ++(host.statistics.received() > 0 ? alive : host.noAddress ? noAddress : unreachable);
    const auto count = [](int value, const char* what) {
        char line[96];
        const int length = std::snprintf(line, sizeof line, " %7d %s\n", value, what);
        return QByteArray(line, length);
    };
    const bool answered = all_.received() > 0;
    const auto time = [&](std::uint64_t us, const char* what) {
        return ' ' + runs::FpingMilliseconds(answered ? us : 0) + " ms (" + what + " round trip time)\n";
    };
    char elapsed[64];
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const int length = std::snprintf(elapsed, sizeof elapsed, " %12.3f sec (elapsed real time)\n", seconds);
    return '\n' + count(static_cast<int>(hosts_.size()), "targets") + count(alive, "alive") +
           count(unreachable, "unreachable") + count(noAddress, "unknown addresses") + '\n' +
           count(timeouts_, "timeouts (waiting for response)") + count(all_.sent(), "ICMP Echos sent") +
           count(all_.received(), "ICMP Echo Replies received") + count(otherIcmp_, "other ICMP received") + '\n' +
           time(all_.MinimumUs(), "min") + time(answered ? all_.AverageUs() : 0, "avg") +
           time(all_.MaximumUs(), "max") + QByteArray(elapsed, length) + '\n';
}

}  // namespace app
