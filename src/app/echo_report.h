#pragma once

#include "runs/echo_statistics.h"
#include "runs/host_result.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace app {

// What the command line says on stderr of a run's echoes: fping's line for
// every host of a count run (-c, or -C with every round trip) and the
// totals of -s. Fed by the run's thread echo by echo, and read once at the
// end, or by the thread that takes an ending signal in the middle: the
// statistics gathered so far, every echo sent counted, answered or not.
class EchoReport {
public:
    enum class HostLines { None, Summary, RoundTrips };
    explicit EchoReport(HostLines lines) : lines_(lines) {}

    void Read(int line, const QString& host);
    // Once Freeze() has been called, these hold the run's thread for good:
    // the process is ending, and sends nothing more.
    void Sending(int line, int seq);
    void Echoed(const runs::HostResult& echo, int seq);
    // A host without an address, which fping counts apart.
    void Settled(const runs::HostResult& result);
    void Freeze();

    // One line a host read, in list order, hosts left-aligned to the
    // longest; terminal: control characters shown as \xNN.
    QByteArray Lines(bool terminal);
    // fping's -s block, with the time since `started`.
    QByteArray Totals(std::chrono::steady_clock::time_point started);

private:
    struct Host {
        int line = 0;
        QString name;
        runs::EchoStatistics statistics;
        std::vector<std::int64_t> roundTripsUs;  // by seq; runs::kNoRoundTrip until answered
        bool noAddress = false;
    };
    Host* find(int line);
    void holdIfFrozen(std::unique_lock<std::mutex>& lock);

    const HostLines lines_;
    std::mutex mutex_;
    std::condition_variable never_;
    bool frozen_ = false;
    std::vector<Host> hosts_;  // in list order, so by line
    // Over every echo: as fping's -s counts them.
    int timeouts_ = 0;
    int otherIcmp_ = 0;
    runs::EchoStatistics all_;
};

}  // namespace app
