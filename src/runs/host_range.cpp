#include "runs/host_range.h"

#include "platform/files/file_name.h"

#include <algorithm>
#include <cstring>

namespace runs {
namespace {

using Number = unsigned __int128;

Number numberOf(const icmp::Address& address)
{
    Number number = 0;
    for (const std::uint8_t byte : address.bytes())
        number = number << 8 | byte;
    return number;
}

icmp::Address addressOf(icmp::Family family, Number number)
{
    std::uint8_t bytes[16];
    for (int i = 15; i >= 0; --i, number >>= 8)
        bytes[i] = static_cast<std::uint8_t>(number);
    if (family == icmp::Family::V6)
        return icmp::Address::v6(bytes);
    std::uint32_t networkOrder;
    std::memcpy(&networkOrder, bytes + 12, 4);
    return icmp::Address::v4(networkOrder);
}

int bitsOf(icmp::Family family) { return family == icmp::Family::V4 ? 32 : 128; }

QString shown(const QByteArray& argument) { return platform::decodeFileName(argument); }

std::optional<icmp::Address> addressIn(const QByteArray& text)
{
    // inet_pton(3) would stop at a NUL byte and take what is before it.
    if (text.contains('\0'))
        return std::nullopt;
    return icmp::Address::parse(text.toStdString());
}

HostRange::Parsed refusal(const QString& error) { return {std::nullopt, error}; }

}  // namespace

HostRange::Parsed HostRange::parse(const QByteArrayList& arguments)
{
    const QString spelled = QStringLiteral("-g ") + shown(arguments.join(' '));
    Number first = 0;
    Number last = 0;
    icmp::Family family = icmp::Family::V4;
    if (arguments.size() == 1) {
        const QByteArray& cidr = arguments[0];
        const qsizetype slash = cidr.indexOf('/');
        const QByteArray bitsText = slash < 0 ? QByteArray() : cidr.mid(slash + 1);
        const std::optional<icmp::Address> address = addressIn(cidr.first(slash < 0 ? 0 : slash));
        const bool digits = !bitsText.isEmpty() && bitsText.size() <= 3 &&
                            std::all_of(bitsText.begin(), bitsText.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!address || !digits)
            return refusal(QStringLiteral("%1: a range is ADDRESS/BITS (127.0.0.0/28, 2001:db8::/120) or FIRST "
                                          "LAST, of numeric addresses.")
                               .arg(spelled));
        family = address->family();
        const int bits = bitsText.toInt();
        if (bits > bitsOf(family))
            return refusal(QStringLiteral("%1: an %2 prefix is 0 to %3 bits long.")
                               .arg(spelled, family == icmp::Family::V4 ? "IPv4" : "IPv6")
                               .arg(bitsOf(family)));
        const int hostBits = bitsOf(family) - bits;
        const Number hostMask = hostBits == 128 ? ~Number{0} : (Number{1} << hostBits) - 1;
        first = numberOf(*address) & ~hostMask;
        last = first | hostMask;
        if (family == icmp::Family::V4 && bits < 31) {
            ++first;
            --last;
        }
    } else if (arguments.size() == 2) {
        const std::optional<icmp::Address> from = addressIn(arguments[0]);
        const std::optional<icmp::Address> to = addressIn(arguments[1]);
        if (!from || !to)
            return refusal(QStringLiteral("%1: \"%2\" is not a numeric IPv4 or IPv6 address.")
                               .arg(spelled, shown(from ? arguments[1] : arguments[0])));
        if (from->family() != to->family())
            return refusal(QStringLiteral("%1: the first and the last address are not of one family.").arg(spelled));
        family = from->family();
        first = numberOf(*from);
        last = numberOf(*to);
        if (first > last)
            return refusal(QStringLiteral("%1: the first address comes after the last.").arg(spelled));
    } else {
        return refusal(QStringLiteral("-g takes a range, ADDRESS/BITS or FIRST LAST, not %1 argument%2.")
                           .arg(arguments.size())
                           .arg(arguments.size() == 1 ? "" : "s"));
    }
    if (last - first >= kMostRangeHosts)
        return refusal(
            QStringLiteral("%1 gives more than %2 addresses, the most a range may have.").arg(spelled).arg(kMostRangeHosts));
    return {HostRange(family, first, static_cast<std::uint64_t>(last - first) + 1), {}};
}

std::optional<QString> HostRange::next()
{
    if (handedOut_ == size_)
        return std::nullopt;
    ++handedOut_;
    return QString::fromStdString(addressOf(family_, next_++).text());
}

}  // namespace runs
