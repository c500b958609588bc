#pragma once

#include "runs/host_result.h"

#include <QByteArray>
#include <QByteArrayList>

#include <cstdint>
#include <vector>

namespace runs {

// A batch run's results in Prometheus' text exposition format, for
// node_exporter's textfile collector. Every family has # HELP and # TYPE;
// a host's series are labelled line="3" and host="a.lab", so two hosts of
// one name stay two series:
//
//   quorvex_host_up             1 answered, 0 not
//   quorvex_host_rtt_seconds    the round trip, only for an answer
//   quorvex_host_status         the status code (0, -1, 11002 to 11050)
//   quorvex_host_ttl            the answer's TTL, only for an answer
//   quorvex_hosts, quorvex_hosts_down
//
// A label value is the host's bytes; bytes that are not UTF-8 appear as
// \xNN (two lowercase hex digits) and a backslash of the name as \\, so
// that printf '%b' gives the bytes back (before the format's own escapes).
QByteArray PrometheusHosts(const std::vector<HostResult>& hosts);

// The families of the run itself (quorvex_last_run_*), which come last.
struct PrometheusRun {
    bool success = false;
    std::int64_t endedMs = 0;  // since the epoch
    std::uint64_t durationUs = 0;
};
QByteArray PrometheusRunFamilies(const PrometheusRun& run);

// The lines of an earlier file but those of the run's own families, for a
// run that failed and keeps the hosts' last samples.
QByteArray WithoutRunFamilies(const QByteArrayList& lines);

}  // namespace runs
