#pragma once

#include "runs/host_result.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace runs {

// What the manual ping reads and shows: the main window's controls, or
// what the command line gave and prints.
class ManualPingControls {
public:
    virtual ~ManualPingControls() = default;
    virtual QString HostText() = 0;                       // txtHost.Text
    virtual QString TimeoutText() = 0;                    // txtPingtimeout.Text
    virtual void SetVerdict(const QString& caption) = 0;  // Label6.Caption
    // The same verdict for a script; the window has no use for it.
    virtual void SetResult(const HostResult& result) { (void)result; }
};

// The verdict the window shows for the host's echo: the address it
// answered from, or the status text.
QString PingVerdict(const QString& host, const QString& address, std::int32_t status);

// One manual ping: one echo to the host as typed, its verdict shown. The
// echo's status, or nothing when Windows Sockets did not start.
std::optional<std::int32_t> ManualPing(ManualPingControls& controls);

}  // namespace runs
