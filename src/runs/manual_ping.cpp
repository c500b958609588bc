#include "runs/manual_ping.h"

#include "platform/msgbox.h"
#include "probe/echo_status_text.h"
#include "probe/send_echo.h"
#include "probe/sockets.h"
#include "runs/ping_texts.h"
#include "runs/timeout.h"

namespace runs {

QString PingVerdict(const QString& host, const QString& address, std::int32_t status)
{
    if (status == 0)
        return QStringLiteral("Success! ") + host + QStringLiteral(" Replied from ip: ") + address;
    return QStringLiteral("Error! ") + host + QStringLiteral(" Did not reply. Error: ") + EchoStatusText(status);
}

std::optional<std::int32_t> ManualPing(ManualPingControls& controls)
{
    if (!StartSockets()) {
        platform::MsgBox(kSocketsNotResponding);
        return std::nullopt;
    }
    const QString address = ResolveHostName(controls.HostText());
    const std::int32_t timeout = TimeoutMilliseconds(controls.TimeoutText());
    EchoReply reply{};
    const std::int32_t status = SendEcho(address, kRequestData, reply, timeout);
    controls.SetVerdict(PingVerdict(controls.HostText(), address, status));
    controls.SetResult(ResultOf(0, controls.HostText(), address, status, &reply));
    StopSockets();
    return status;
}

}  // namespace runs
