#pragma once

#include "runs/host_result.h"
#include "runs/resolver_pool.h"

#include <QString>

#include <functional>
#include <optional>

namespace runs {

// The most echoes the command line keeps in flight.
inline constexpr int kMostParallelEchoes = 1024;
// The most retries a host may get: beyond this a silent host costs more
// than its answer is worth.
inline constexpr int kMostRetries = 10;

// How the command line asked for its hosts to be pinged: a plain value, the
// same for every host.
struct PipelineOptions {
    QString timeoutText;  // converted at the first host, as the window's run converts it
    // More echoes, each with the same timeout, for a host whose echo timed
    // out: on a lossy link one lost packet would list an answering host.
    // An ICMP error is a verdict and is kept. The host keeps its place.
    int retries = 0;
    int parallel = 1;  // echoes in flight, 1 to kMostParallelEchoes
    AddressChoice addresses = AddressChoice::Usual;
    // A count run: this many echoes to every host, one every intervalMs
    // to each, its retries only for a host none of whose echoes came back.
    // 0: one echo a host, as the window sends.
    int count = 0;
    int intervalMs = 1000;
};

// Where the hosts come from and where their results go.
struct PipelineHosts {
    // The next host of the list, counted and trimmed already; nothing once
    // the list has ended.
    std::function<std::optional<QString>()> nextHost;
    // Every host's result once it and every host above it have settled, in
    // list order; then, once the hosts that settled together have been
    // handed over, written(), by whose return their lines have reached the
    // output.
    std::function<void(const HostResult& result)> settled;
    std::function<void()> written;
    // Whenever hosts have settled: how many have in all, and the host that
    // the output waits for (the one that settled last when none is left).
    std::function<void(int settled, const QString& host)> progress;
    // Every host read, before its first echo, with its line.
    std::function<void(int line, const QString& host)> read = {};
    // Before each echo goes out, numbered from 0 for its host (a retry
    // too): a caller that holds the run here holds its sending.
    std::function<void(int line, int seq)> sending = {};
    // Each echo's own result once it has settled, in the order they
    // settle; written() follows once those that settled together are
    // handed over.
    std::function<void(const HostResult& echo, int seq)> echoed = {};
};

// The command line's hosts, each read, resolved, pinged (again while it
// times out and has retries left), settled and written, with up to
// `parallel` echoes in flight. Echoes go out in list order, one at a time
// per host; each host's result is handed over as soon as it and every host
// above it have settled, so every N gives the same results in the same
// order. Names are resolved ahead on a few threads. In a count run a host
// gets its echoes one every interval, several in flight, and settles with
// its last one. Returns how many hosts
// were pinged (got Windows Sockets and their echo). An error in reading
// the list or converting the timeout stops the reading; the hosts above it
// are finished and handed over before it ends the run.
int RunPipeline(const PipelineHosts& hosts, const PipelineOptions& options);

}  // namespace runs
