#include "runs/plugin_status.h"

#include "platform/ansi.h"

#include <QHash>

#include <algorithm>
#include <cstdio>

namespace runs {
namespace {

void appendEscaped(QByteArray& out, unsigned char byte)
{
    static const char hex[] = "0123456789abcdef";
    out += "\\x";
    out += hex[byte >> 4];
    out += hex[byte & 0xF];
}

// A label's bytes: anything a parser of the format could split on, or a
// collector store as something else, becomes \xNN.
QByteArray label(const char* prefix, const HostResult& host, bool namedTwice)
{
    QByteArray bytes = platform::toAnsi(host.host);
    if (namedTwice)
        bytes += '#' + QByteArray::number(host.line);
    QByteArray name = prefix;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7e || c == '=' || c == '\'' || c == '\\' || c == '|')
            appendEscaped(name, byte);
        else
            name += c;
    }
    return name.contains(' ') ? '\'' + name + '\'' : name;
}

QByteArray milliseconds(std::uint64_t us)
{
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%03llu", static_cast<unsigned long long>(us / 1000),
                  static_cast<unsigned long long>(us % 1000));
    return text;
}

bool past(const PluginThreshold& threshold, const HostResult& host, int loss)
{
    return loss >= threshold.lossPercent || (host.roundTripUs && *host.roundTripUs >= threshold.rtaUs);
}

bool allDigits(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::optional<PluginThreshold> ParsePluginThreshold(const QByteArray& text)
{
    const qsizetype comma = text.indexOf(',');
    if (comma < 0)
        return std::nullopt;
    QByteArrayView rta = QByteArrayView(text).first(comma);
    QByteArrayView loss = QByteArrayView(text).sliced(comma + 1);
    if (loss.endsWith('%'))
        loss.chop(1);
    const qsizetype point = rta.indexOf('.');
    const QByteArrayView whole = point < 0 ? rta : rta.first(point);
    QByteArrayView fraction = point < 0 ? QByteArrayView() : rta.sliced(point + 1);
    // Bounded so that the microseconds stay far from overflow: check_icmp
    // caps its own at a few minutes.
    if (whole.isEmpty() || whole.size() > 9 || !allDigits(whole) || !allDigits(fraction) || loss.isEmpty() ||
        loss.size() > 3 || !allDigits(loss) || loss.toInt() > 100)
        return std::nullopt;
    QByteArray micro = fraction.first(std::min<qsizetype>(fraction.size(), 3)).toByteArray();
    while (micro.size() < 3)
        micro += '0';
    return PluginThreshold{whole.toULongLong() * 1000 + micro.toULongLong(), loss.toInt()};
}

PluginCheck PluginStatus(const std::vector<HostResult>& hosts, PluginThreshold warning, PluginThreshold critical)
{
    // As check_icmp: a warning past the critical threshold would never be
    // the state, and its perfdata would read as a range turned round.
    warning.rtaUs = std::min(warning.rtaUs, critical.rtaUs);
    warning.lossPercent = std::min(warning.lossPercent, critical.lossPercent);
    QHash<QString, int> named;
    for (const HostResult& host : hosts)
        ++named[host.host];
    int answered = 0, warned = 0, criticals = 0;
    QByteArray perfdata;
    for (const HostResult& host : hosts) {
        const bool up = host.status == 0;
        const int loss = up ? 0 : 100;
        answered += up ? 1 : 0;
        if (past(critical, host, loss))
            ++criticals;
        else if (past(warning, host, loss))
            ++warned;
        const bool twice = named.value(host.host) > 1;
        perfdata += ' ' + label("rta_", host, twice) + '=' +
                    (host.roundTripUs ? milliseconds(*host.roundTripUs) + "ms" : QByteArray("U")) + ';' +
                    milliseconds(warning.rtaUs) + ';' + milliseconds(critical.rtaUs) + ";0;";
        perfdata += ' ' + label("pl_", host, twice) + '=' + QByteArray::number(loss) + "%;" +
                    QByteArray::number(warning.lossPercent) + ';' + QByteArray::number(critical.lossPercent) + ";;";
    }
    PluginCheck check;
    check.state = criticals > 0 ? PluginState::Critical : warned > 0 ? PluginState::Warning : PluginState::Ok;
    static const char* const words[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
    QByteArray text = QByteArray::number(answered) + " of " + QByteArray::number(hosts.size()) +
                      (hosts.size() == 1 ? " host answered" : " hosts answered");
    if (criticals > 0)
        text += ", " + QByteArray::number(criticals) + " past -c";
    if (warned > 0)
        text += ", " + QByteArray::number(warned) + " past -w";
    check.line = QByteArray("QUORVEX ") + words[static_cast<int>(check.state)] + " - " + text;
    if (!perfdata.isEmpty())
        check.line += " |" + perfdata;
    check.line += '\n';
    return check;
}

QByteArray PluginUnknown(const QByteArray& error)
{
    QByteArray line = "QUORVEX UNKNOWN - ";
    for (const char c : error) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f || c == '|')
            appendEscaped(line, byte);
        else
            line += c;
    }
    return line + '\n';
}

}  // namespace runs
