#include "platform/net/icmp_rights.h"

#include "platform/net/echo_helper_client.h"
#include "platform/net/icmp_socket.h"

#include <QRegularExpression>

namespace platform::icmp {
namespace {

// The one range that admits every group; many desktop distributions set it.
constexpr const char* kOpenPingGroupRange = "sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"";

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
    rights.datagramSocket = EchoSocket::open(SocketKind::Datagram) != nullptr;
    rights.rawSocket = EchoSocket::open(SocketKind::Raw) != nullptr;
    const EchoHelperFile file = inspectEchoHelper(echoHelperPath());
    rights.helper = file.granted;
    rights.helperPresent = file.present;
    rights.fileCapabilityWouldHelp = file.capabilityWouldHelp;
    return rights;
}

QString icmpRightsAdvice(const IcmpRights& rights, const QString& helper)
{
    if (rights.canEcho())
        return {};
    QString fix = QString::fromLatin1(kOpenPingGroupRange);
    if (!rights.helperPresent)
        fix += QStringLiteral(", or install the quorvex package, whose echo helper may send pings");
    else if (rights.fileCapabilityWouldHelp)
        fix += QStringLiteral(", or: sudo setcap cap_net_raw+ep ") + shellWord(helper);
    return QStringLiteral(
               "no ICMP socket can be opened, so every ping will fail with ip general failure;"
               " to fix it, run: ") +
           fix;
}

QString missingIcmpRightsAdvice()
{
    return icmpRightsAdvice(checkIcmpRights(), QString::fromStdString(echoHelperPath()));
}

}  // namespace platform::icmp
