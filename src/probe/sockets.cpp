#include "probe/sockets.h"

#include "platform/ansi.h"
#include "platform/kernel32.h"
#include "platform/msgbox.h"
#include "platform/net/network.h"

#include <cstddef>
#include <cstring>

namespace {
constexpr std::uint16_t kWinsockVersion11 = 0x0101;
}

bool StartSockets()
{
    platform::WSADATA data;
    std::memset(&data, 0, sizeof data);
    return platform::WSAStartup(kWinsockVersion11, &data) == 0;
}

void StopSockets()
{
    if (platform::WSACleanup() != 0)
        platform::MsgBox(QStringLiteral("Windows Sockets error occurred in Cleanup."),
                         platform::msgbox_style::Exclamation);
}

QString ResolveHostName(const QString& hostName)
{
    const std::optional<icmp::Address> address = ResolveHostAddress(hostName);
    return address ? DottedFromAddress(address->v4NetworkOrder()) : QString();
}

std::optional<icmp::Address> ResolveHostAddress(const QString& hostName)
{
    // QByteArray ends its bytes with a NUL: a name with a NUL of its own
    // ends there, as a C string would.
    const QByteArray name = platform::toAnsi(hostName);
    const platform::HOSTENT* entry = platform::gethostbyname(name.constData());
    if (entry == nullptr)
        return std::nullopt;

    char** addressList;
    platform::RtlMoveMemory(&addressList,
                            reinterpret_cast<const char*>(entry) + offsetof(platform::HOSTENT, h_addr_list),
                            sizeof addressList);
    char* firstEntry;
    platform::RtlMoveMemory(&firstEntry, addressList, sizeof firstEntry);
    if (firstEntry == nullptr)
        return std::nullopt;
    std::uint32_t address;
    platform::RtlMoveMemory(&address, firstEntry, 4);
    return icmp::Address::v4(address);
}

QString DottedFromAddress(std::uint32_t address)
{
    return StringFromAnsiPtr(platform::inet_ntoa(platform::IN_ADDR{address}));
}

QString StringFromAnsiPtr(const char* ansi)
{
    const int length = platform::lstrlenA(ansi);
    QByteArray text(length, '\0');  // QByteArray keeps room for the NUL behind its bytes
    if (length > 0)
        platform::lstrcpyA(text.data(), ansi);
    return platform::fromAnsi(text);
}
