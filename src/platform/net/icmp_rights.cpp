#include "platform/net/icmp_rights.h"

#include "platform/net/icmp_socket.h"

#include <QRegularExpression>

#include <array>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

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

// Whether the file's own capability set already grants CAP_NET_RAW.
bool fileHasNetRaw(const QByteArray& path)
{
    std::array<std::uint8_t, sizeof(vfs_ns_cap_data)> data{};
    const ssize_t length = ::getxattr(path.constData(), "security.capability", data.data(), data.size());
    if (length < static_cast<ssize_t>(XATTR_CAPS_SZ_1))
        return false;
    // Little-endian words: the revision, then the first permitted word.
    const std::uint32_t permitted = data[4] | data[5] << 8 | data[6] << 16 | static_cast<std::uint32_t>(data[7]) << 24;
    return permitted & (1u << CAP_NET_RAW);
}

bool mountedNosuid(const QByteArray& path)
{
    struct statvfs fs {};
    return ::statvfs(path.constData(), &fs) == 0 && (fs.f_flag & ST_NOSUID);
}

}  // namespace

IcmpRights checkIcmpRights(const QString& program)
{
    IcmpRights rights;
    rights.datagramSocket = EchoSocket::open(SocketKind::Datagram) != nullptr;
    rights.rawSocket = EchoSocket::open(SocketKind::Raw) != nullptr;
    const QByteArray path = program.toLocal8Bit();
    rights.fileCapabilityWouldHelp = ::prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 0 &&
                                     ::prctl(PR_CAPBSET_READ, CAP_NET_RAW, 0, 0, 0) == 1 && !mountedNosuid(path) &&
                                     !fileHasNetRaw(path);
    return rights;
}

QString icmpRightsAdvice(const IcmpRights& rights, const QString& program)
{
    if (rights.datagramSocket || rights.rawSocket)
        return {};
    const QString fix = rights.fileCapabilityWouldHelp
                            ? QStringLiteral("sudo setcap cap_net_raw+ep ") + shellWord(program)
                            : QString::fromLatin1(kOpenPingGroupRange);
    return QStringLiteral("quorvex: no ICMP socket can be opened, so every ping will fail with ip general failure;"
                          " to fix it, run: ") +
           fix;
}

QString missingIcmpRightsAdvice()
{
    std::error_code error;
    const auto running = std::filesystem::read_symlink("/proc/self/exe", error);
    const QString program = error ? QStringLiteral("quorvex") : QString::fromStdString(running.string());
    return icmpRightsAdvice(checkIcmpRights(program), program);
}

}  // namespace platform::icmp
