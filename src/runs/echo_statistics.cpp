#include "runs/echo_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace runs {

void EchoStatistics::Answered(std::uint64_t roundTripUs)
{
    ++received_;
    min_ = received_ == 1 ? roundTripUs : std::min(min_, roundTripUs);
    max_ = std::max(max_, roundTripUs);
    sum_ += roundTripUs;
    const double value = static_cast<double>(roundTripUs);
    const double before = value - mean_;
    mean_ += before / received_;
    squares_ += before * (value - mean_);
}

int EchoStatistics::LossPercent() const
{
    if (sent_ == 0)
        return 0;
    return static_cast<int>(static_cast<std::int64_t>(sent_ - received_) * 100 / sent_);
}

double EchoStatistics::StandardDeviationUs() const { return received_ == 0 ? 0.0 : std::sqrt(squares_ / received_); }

QByteArray FpingMilliseconds(std::uint64_t us)
{
    const double ms = static_cast<double>(us) / 1000.0;
    const char* format = ms < 1.0 ? "%.3f" : ms < 10.0 ? "%.2f" : ms < 100.0 ? "%.1f" : ms < 1e6 ? "%.0f" : "%.3e";
    char text[32];
    const int length = std::snprintf(text, sizeof text, format, ms);
    return QByteArray(text, length);
}

namespace {

QByteArray padded(const QByteArray& host, qsizetype width) { return host.leftJustified(width, ' ') + " :"; }

}  // namespace

QByteArray FpingSummaryLine(const QByteArray& host, qsizetype width, const EchoStatistics& statistics)
{
    QByteArray line = padded(host, width);
    line += " xmt/rcv/%loss = " + QByteArray::number(statistics.sent()) + '/' +
            QByteArray::number(statistics.received()) + '/' + QByteArray::number(statistics.LossPercent()) + '%';
    if (statistics.received() > 0)
        line += ", min/avg/max = " + FpingMilliseconds(statistics.MinimumUs()) + '/' +
                FpingMilliseconds(statistics.AverageUs()) + '/' + FpingMilliseconds(statistics.MaximumUs());
    return line;
}

QByteArray FpingRoundTripsLine(const QByteArray& host, qsizetype width, std::span<const std::int64_t> roundTripsUs)
{
    QByteArray line = padded(host, width);
    for (const std::int64_t us : roundTripsUs)
        line += us < 0 ? QByteArray(" -") : ' ' + FpingMilliseconds(static_cast<std::uint64_t>(us));
    return line;
}

}  // namespace runs
