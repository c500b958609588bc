#include "runs/json_lines.h"

#include "platform/ansi.h"
#include "probe/echo_status_text.h"

#include <charconv>
#include <cmath>
#include <concepts>
#include <cstdint>

namespace runs {

int Utf8Length(const unsigned char* p, const unsigned char* end)
{
    const unsigned char c = p[0];
    if (c < 0x80)
        return 1;
    const auto continuation = [&](int i) { return p + i < end && (p[i] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF)
        return continuation(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!continuation(1) || !continuation(2))
            return 0;
        if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] >= 0xA0))
            return 0;
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!continuation(1) || !continuation(2) || !continuation(3))
            return 0;
        if ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] >= 0x90))
            return 0;
        return 4;
    }
    return 0;
}

namespace {

// The bytes as a JSON string; false when a byte that is not UTF-8 was
// written as U+FFFD.
bool appendString(QByteArrayView bytes, QByteArray& out)
{
    static const char hex[] = "0123456789abcdef";
    bool exact = true;
    out += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        const unsigned char c = *p;
        if (c >= 0x20 && c < 0x80 && c != '"' && c != '\\') {
            out += static_cast<char>(c);
            ++p;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++p;
            continue;
        }
        if (c < 0x20) {
            const char* shortForm = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
            if (shortForm) {
                out += shortForm;
            } else {
                out += "\\u00";
                out += hex[c >> 4];
                out += hex[c & 0xF];
            }
            ++p;
            continue;
        }
        const int length = Utf8Length(p, end);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            exact = false;
            ++p;
        } else {
            out.append(reinterpret_cast<const char*>(p), length);
            p += length;
        }
    }
    out += '"';
    return exact;
}

// The run's texts hold one byte a character (platform/ansi.h).
bool appendText(const QString& text, QByteArray& out) { return appendString(platform::toAnsi(text), out); }

void appendNullOr(const std::optional<icmp::Address>& address, QByteArray& out)
{
    if (!address) {
        out += "null";
        return;
    }
    out += '"';
    out += address->text();
    out += '"';
}

void appendNumber(std::integral auto value, QByteArray& out)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end - digits);
}

// Milliseconds with microsecond resolution, as "0.085".
void appendMilliseconds(std::uint64_t us, QByteArray& out)
{
    appendNumber(us / 1000, out);
    const auto fraction = static_cast<unsigned>(us % 1000);
    const char decimals[4] = {'.', static_cast<char>('0' + fraction / 100),
                              static_cast<char>('0' + fraction / 10 % 10), static_cast<char>('0' + fraction % 10)};
    out.append(decimals, 4);
}

}  // namespace

void AppendJsonHeader(const RunHeader& header, QByteArray& out)
{
    out += "{\"type\":\"run\",\"format\":";
    appendNumber(kJsonFormat, out);
    out += ",\"version\":";
    appendString(header.version, out);
    out += ",\"started\":";
    appendString(header.started.toUTC().toString(Qt::ISODateWithMs).toLatin1(), out);
    out += ",\"options\":{\"timeout_ms\":";
    appendNumber(header.timeoutMs, out);
    out += ",\"retries\":";
    appendNumber(header.retries, out);
    out += ",\"parallel\":";
    appendNumber(header.parallel, out);
    if (header.count > 0) {
        out += ",\"count\":";
        appendNumber(header.count, out);
        out += ",\"interval_ms\":";
        appendNumber(header.intervalMs, out);
    }
    out += "}}\n";
}

void AppendJsonEnd(const RunEnd& end, QByteArray& out)
{
    out += "{\"type\":\"end\",\"hosts\":";
    appendNumber(end.hosts, out);
    out += ",\"answered\":";
    appendNumber(end.answered, out);
    out += ",\"elapsed_ms\":";
    appendMilliseconds(end.elapsedUs, out);
    out += ",\"ended\":";
    out += end.ending == RunEnding::Complete      ? "\"complete\""
           : end.ending == RunEnding::Interrupted ? "\"interrupted\""
                                                  : "\"failed\"";
    if (end.ending == RunEnding::Failed) {
        out += ",\"error\":";
        appendString(end.error, out);
    }
    out += "}\n";
}

namespace {

// The fields that name a host, from the type to its address.
void appendHostFields(const char* type, const HostResult& result, std::optional<int> seq, QByteArray& out)
{
    out += "{\"type\":\"";
    out += type;
    out += "\",\"line\":";
    if (result.line > 0)
        appendNumber(result.line, out);
    else
        out += "null";
    if (seq) {
        out += ",\"seq\":";
        appendNumber(*seq, out);
    }
    out += ",\"host\":";
    if (!appendText(result.host, out)) {
        out += ",\"host_bytes\":\"";
        out += platform::toAnsi(result.host).toBase64();
        out += '"';
    }
    out += ",\"address\":";
    appendNullOr(result.address, out);
}

void appendStatus(const HostResult& result, QByteArray& out)
{
    out += ",\"status\":";
    appendNumber(result.status, out);
    out += ",\"status_text\":";
    const QLatin1StringView message = EchoStatusMessage(result.status);
    appendString(QByteArrayView(message.data(), message.size()), out);
}

void appendEcho(const char* type, const HostResult& result, std::optional<int> seq, QByteArray& out)
{
    appendHostFields(type, result, seq, out);
    appendStatus(result, out);
    out += ",\"rtt_ms\":";
    if (result.roundTripUs)
        appendMilliseconds(*result.roundTripUs, out);
    else
        out += "null";
    out += ",\"ttl\":";
    if (result.ttl)
        appendNumber(*result.ttl, out);
    else
        out += "null";
    out += ",\"router\":";
    appendNullOr(result.router, out);
    out += "}\n";
}

void appendMillisecondsOrNull(bool known, std::uint64_t us, QByteArray& out)
{
    if (known)
        appendMilliseconds(us, out);
    else
        out += "null";
}

}  // namespace

void AppendJsonLine(const HostResult& result, QByteArray& out) { appendEcho("host", result, std::nullopt, out); }

void AppendJsonEcho(const HostResult& echo, int seq, QByteArray& out) { appendEcho("echo", echo, seq, out); }

void AppendJsonSummary(const HostResult& result, QByteArray& out)
{
    const EchoStatistics statistics = result.echoes.value_or(EchoStatistics());
    appendHostFields("summary", result, std::nullopt, out);
    appendStatus(result, out);
    out += ",\"sent\":";
    appendNumber(statistics.sent(), out);
    out += ",\"received\":";
    appendNumber(statistics.received(), out);
    out += ",\"loss_percent\":";
    appendNumber(statistics.LossPercent(), out);
    const bool answered = statistics.received() > 0;
    out += ",\"rtt_min_ms\":";
    appendMillisecondsOrNull(answered, answered ? statistics.MinimumUs() : 0, out);
    out += ",\"rtt_avg_ms\":";
    appendMillisecondsOrNull(answered, answered ? statistics.AverageUs() : 0, out);
    out += ",\"rtt_max_ms\":";
    appendMillisecondsOrNull(answered, answered ? statistics.MaximumUs() : 0, out);
    out += ",\"rtt_stddev_ms\":";
    appendMillisecondsOrNull(answered, static_cast<std::uint64_t>(std::llround(statistics.StandardDeviationUs())), out);
    out += "}\n";
}

}  // namespace runs
