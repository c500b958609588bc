#pragma once

#include "runs/host_result.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace runs {

// What a batch run reads and where it writes, whatever the list and the
// output are.
struct BatchLines {
    // The next host of the list, counted and trimmed already; nothing once
    // the list has ended.
    std::function<std::optional<QString>()> nextHost;
    // Every host's result once it and every host above it have settled, in
    // list order; then, once the hosts that settled together have been
    // handed over, written(), by whose return their lines have reached the
    // output.
    std::function<void(const HostResult& result)> settled;
    std::function<void()> written;
    // Read and converted for every host, as the serial run does.
    std::function<QString()> timeoutText;
    // Whenever hosts have settled: how many have in all, and the host that
    // the output waits for (the one that settled last when none is left).
    std::function<void(int settled, const QString& host)> progress;
    // More echoes, each with the same timeout, for a host whose echo timed
    // out: on a lossy link one lost packet would list an answering host.
    // An ICMP error is a verdict and is kept. The host keeps its place.
    int retries = 0;
};

// The most echoes a parallel run keeps in flight.
inline constexpr int kMostParallelEchoes = 1024;
// The most retries a host may get: beyond this a silent host costs more
// than its answer is worth.
inline constexpr int kMostRetries = 10;

// The batch run with up to `parallel` echoes in flight (2 to
// kMostParallelEchoes). Echoes go out in list order, one per host; each
// host's line is written as soon as it and every host above it have
// settled, so the output holds the serial run's lines in the serial run's
// order. Names are resolved ahead on a few threads. Returns how many hosts
// were pinged (got Windows Sockets and their echo). An error ends the run where the serial run would end it:
// the lines of the hosts above it are written first.
int ParallelBatchPing(const BatchLines& batch, int parallel);

}  // namespace runs
