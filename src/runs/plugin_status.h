#pragma once

#include "runs/host_result.h"

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

namespace runs {

// A threshold as check_icmp's -w and -c take it: "RTA,PL%", the round trip
// in milliseconds (a decimal fraction, kept to the microsecond) and the
// share of echoes lost, a whole percentage from 0 to 100 ("%" optional).
struct PluginThreshold {
    std::uint64_t rtaUs = 0;
    int lossPercent = 0;
};
std::optional<PluginThreshold> ParsePluginThreshold(const QByteArray& text);

// The Monitoring Plugins' states, which are their exit statuses.
enum class PluginState { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

struct PluginCheck {
    PluginState state = PluginState::Unknown;
    QByteArray line;  // the one status line, with its newline
};

// "QUORVEX OK - 3 of 3 hosts answered | rta_a=0.054ms;200.000;500.000;0; pl_a=0%;40;80;; ..."
//
// A host is past a threshold when its round trip or its loss is at or past
// it, as check_icmp judges (which also lowers a warning threshold past the
// critical one to it); the run's state is its worst host's. A host
// gets one echo that counts (the last of its retries), so its loss is 0%
// or 100%, and a host that did not answer has no round trip (U).
// Labels are rta_NAME and pl_NAME, NAME#LINE for a name that the list
// holds more than once; bytes of the name outside printable ASCII, and
// =, ', \ and |, appear as \xNN (two lowercase hex digits), which keeps the
// label within the format's rules and the name's bytes reversible. A
// label with a space is quoted.
PluginCheck PluginStatus(const std::vector<HostResult>& hosts, PluginThreshold warning, PluginThreshold critical);

// "QUORVEX UNKNOWN - the error": a run that could not judge its hosts.
// Control characters and | (which would start the perfdata) as \xNN.
QByteArray PluginUnknown(const QByteArray& error);

}  // namespace runs
