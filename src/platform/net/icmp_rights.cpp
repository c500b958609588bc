#include "platform/net/icmp_rights.h"

#include "icmp/helper_client.h"
#include "icmp/echo_socket.h"

#include <QRegularExpression>

namespace platform {
namespace {

// The one range that admits every group; many desktop distributions set it.
constexpr const char* kOpenPingGroupRange = "sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"";

// The path as one word for a POSIX shell, so that the line can be pasted as
// it stands.
QString shellWord(const QString& text)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+:@%,=-]+$"));
    if (plain.match(text).hasMatch())
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

}  // namespace

IcmpRights checkIcmpRights()
{
    IcmpRights rights;
    rights.datagramSocket = icmp::EchoSocket::open(icmp::SocketKind::Datagram) != nullptr;
    rights.rawSocket = icmp::EchoSocket::open(icmp::SocketKind::Raw) != nullptr;
    const icmp::EchoHelperFile file = icmp::inspectEchoHelper(icmp::echoHelperPath());
    rights.helper = file.granted;
    rights.helperPresent = file.present;
    rights.fileCapabilityWouldHelp = file.capabilityWouldHelp;
    return rights;
}

QString tryEchoHelper(IcmpRights& rights)
{
    if (rights.datagramSocket || rights.rawSocket || !rights.helper)
        return {};
    icmp::EchoHelper* helper = icmp::processEchoHelper();
    if (!helper || helper->ready())
        return {};
    rights.helper = false;
    return QString::fromStdString(helper->lastFailure());
}

QString icmpRightsAdvice(const IcmpRights& rights, const QString& helper, const QString& helperFailure)
{
    if (rights.canEcho())
        return {};
    QString fix = QString::fromLatin1(kOpenPingGroupRange);
    if (!rights.helperPresent)
        fix += QStringLiteral(", or install the quorvex package, whose echo helper may send pings");
    else if (rights.fileCapabilityWouldHelp)
        fix += QStringLiteral(", or: setcap cap_net_raw+ep ") + shellWord(helper);
    const QString failure = helperFailure.isEmpty() ? QString()
                                                    : QStringLiteral(" (") + helperFailure + QLatin1Char(')');
    // The window still opens and the command line refuses the run, so the
    // line says what cannot be done, not what will follow. A minimal system
    // has no sudo: the fix is what root runs.
    return QStringLiteral("no ICMP socket can be opened, so no echo can be sent") + failure +
           QStringLiteral("; to fix it, run as root: ") + fix;
}

QString missingIcmpRightsAdvice()
{
    IcmpRights rights = checkIcmpRights();
    const QString failure = tryEchoHelper(rights);
    return icmpRightsAdvice(rights, QString::fromStdString(icmp::echoHelperPath()), failure);
}

}  // namespace platform
