#pragma once

#include <QByteArray>

#include <cstdint>
#include <span>

namespace runs {

// The most echoes a count run sends a host, and the least interval an
// ordinary user may ask for between two of them (iputils ping's floor for
// a user; root may go lower).
inline constexpr int kMostEchoesPerHost = 100000;
inline constexpr int kLeastUserIntervalMs = 10;
inline constexpr int kMostIntervalMs = 3600000;

// What one host's echoes of a count run came to: round trips in
// microseconds, the resolution the echo core measures in.
class EchoStatistics {
public:
    void Sent() { ++sent_; }
    void Answered(std::uint64_t roundTripUs);

    int sent() const { return sent_; }
    int received() const { return received_; }
    int lost() const { return sent_ - received_; }
    // Whole percent, cut rather than rounded, as fping prints it: a host
    // that lost one echo of a thousand is not shown as 0% lost.
    int LossPercent() const;
    // These only once an echo was answered.
    std::uint64_t MinimumUs() const { return min_; }
    std::uint64_t MaximumUs() const { return max_; }
    // Cut to the microsecond, as fping cuts its average to its clock.
    std::uint64_t AverageUs() const { return sum_ / static_cast<std::uint64_t>(received_); }
    // Of the population, as iputils' mdev: the spread of these echoes, not
    // an estimate of another sample's.
    double StandardDeviationUs() const;

private:
    int sent_ = 0;
    int received_ = 0;
    std::uint64_t min_ = 0;
    std::uint64_t max_ = 0;
    std::uint64_t sum_ = 0;
    // Welford's running mean and sum of squared differences: the sum of
    // squares of round trips of seconds would lose the microseconds.
    double mean_ = 0;
    double squares_ = 0;
};

// Milliseconds as fping prints them: three decimals below 1 ms, two below
// 10, one below 100, none above.
QByteArray FpingMilliseconds(std::uint64_t us);

// fping's per-host line of -c, the host left-aligned in `width` bytes:
//   "127.0.0.1 : xmt/rcv/%loss = 5/5/0%, min/avg/max = 0.03/0.04/0.06"
//   "127.0.0.2 : xmt/rcv/%loss = 5/0/100%"
QByteArray FpingSummaryLine(const QByteArray& host, qsizetype width, const EchoStatistics& statistics);

// fping's per-host line of -C: every echo's round trip in the order sent,
// "-" for one that was not answered (a negative value).
inline constexpr std::int64_t kNoRoundTrip = -1;
QByteArray FpingRoundTripsLine(const QByteArray& host, qsizetype width, std::span<const std::int64_t> roundTripsUs);

}  // namespace runs
