#include "runs/prometheus_text.h"

#include "platform/ansi.h"
#include "runs/json_lines.h"

#include <cstdio>

namespace runs {
namespace {

constexpr QByteArrayView kRunPrefix = "quorvex_last_run_";

void family(QByteArray& out, const char* name, const char* help)
{
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += " gauge\n";
}

// The label's value as the format escapes it, after the name's own
// escapes for bytes that are not UTF-8 and for its backslashes.
void appendLabelValue(const QByteArray& bytes, QByteArray& out)
{
    static const char hex[] = "0123456789abcdef";
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto* const end = p + bytes.size();
    while (p < end) {
        const int length = Utf8Length(p, end);
        if (length == 0) {
            out += "\\\\x";
            out += hex[*p >> 4];
            out += hex[*p & 0xF];
            ++p;
        } else if (*p == '\\') {
            out += "\\\\\\\\";
            ++p;
        } else if (*p == '"') {
            out += "\\\"";
            ++p;
        } else if (*p == '\n') {
            out += "\\n";
            ++p;
        } else {
            out.append(reinterpret_cast<const char*>(p), length);
            p += length;
        }
    }
}

void sample(QByteArray& out, const char* name, const HostResult& host, const QByteArray& value)
{
    out += name;
    out += "{line=\"";
    out += QByteArray::number(host.line);
    out += "\",host=\"";
    appendLabelValue(platform::toAnsi(host.host), out);
    out += "\"} ";
    out += value;
    out += '\n';
}

QByteArray fixed(std::uint64_t millionths)
{
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%06llu", static_cast<unsigned long long>(millionths / 1000000),
                  static_cast<unsigned long long>(millionths % 1000000));
    return text;
}

}  // namespace

QByteArray PrometheusHosts(const std::vector<HostResult>& hosts)
{
    QByteArray out;
    family(out, "quorvex_host_up", "Whether the host answered the last run's ICMP echo (1) or not (0).");
    for (const HostResult& host : hosts)
        sample(out, "quorvex_host_up", host, host.status == 0 ? "1" : "0");
    family(out, "quorvex_host_rtt_seconds", "Round trip of the host's answer in the last run.");
    for (const HostResult& host : hosts)
        if (host.roundTripUs)
            sample(out, "quorvex_host_rtt_seconds", host, fixed(*host.roundTripUs));
    family(out, "quorvex_host_status", "Status code of the host's echo: 0 answered, -1 no address, else ICMP.");
    for (const HostResult& host : hosts)
        sample(out, "quorvex_host_status", host, QByteArray::number(host.status));
    family(out, "quorvex_host_ttl", "TTL of the host's answer in the last run.");
    for (const HostResult& host : hosts)
        if (host.ttl)
            sample(out, "quorvex_host_ttl", host, QByteArray::number(*host.ttl));
    qsizetype down = 0;
    for (const HostResult& host : hosts)
        down += host.status != 0;
    family(out, "quorvex_hosts", "Hosts pinged in the last run that did its work.");
    out += "quorvex_hosts " + QByteArray::number(hosts.size()) + '\n';
    family(out, "quorvex_hosts_down", "Hosts that did not answer in the last run that did its work.");
    out += "quorvex_hosts_down " + QByteArray::number(down) + '\n';
    return out;
}

QByteArray PrometheusRunFamilies(const PrometheusRun& run)
{
    QByteArray out;
    family(out, "quorvex_last_run_success",
           "Whether the last run did its work (1), whatever the hosts said, or failed (0).");
    out += run.success ? "quorvex_last_run_success 1\n" : "quorvex_last_run_success 0\n";
    family(out, "quorvex_last_run_timestamp_seconds", "When the last run ended, in seconds since the epoch.");
    out += "quorvex_last_run_timestamp_seconds " + fixed(static_cast<std::uint64_t>(run.endedMs) * 1000) + '\n';
    family(out, "quorvex_last_run_duration_seconds", "How long the last run took.");
    out += "quorvex_last_run_duration_seconds " + fixed(run.durationUs) + '\n';
    return out;
}

QByteArray WithoutRunFamilies(const QByteArrayList& lines)
{
    QByteArray out;
    for (const QByteArray& line : lines) {
        // A view of the line itself: a view of the ternary's copy would
        // outlive it.
        const QByteArrayView whole(line);
        const QByteArrayView name = whole.startsWith("# HELP ") || whole.startsWith("# TYPE ") ? whole.sliced(7) : whole;
        if (!name.startsWith(kRunPrefix) && !line.isEmpty())
            out += line + '\n';
    }
    return out;
}

}  // namespace runs
