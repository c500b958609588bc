#include "runs/json_lines.h"

#include "platform/ansi.h"
#include "probe/echo_status_text.h"

#include <cstdio>

namespace runs {
namespace {

// The length of the well-formed UTF-8 character at p (end excluded), or 0:
// no overlong forms, no surrogates, nothing past U+10FFFF, which are what
// JSON parsers refuse.
int utf8Length(const unsigned char* p, const unsigned char* end)
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

// The bytes as a JSON string; false when a byte that is not UTF-8 was
// written as U+FFFD.
bool appendString(const QByteArray& bytes, QByteArray& out)
{
    static const char hex[] = "0123456789abcdef";
    bool exact = true;
    out += '"';
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
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
        const int length = utf8Length(p, end);
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

void appendText(const QString& text, QByteArray& out)
{
    if (text.isEmpty()) {
        out += "null";
        return;
    }
    appendString(platform::toAnsi(text), out);
}

}  // namespace

void AppendJsonLine(const HostResult& result, QByteArray& out)
{
    char number[48];
    out += "{\"line\":";
    if (result.line > 0)
        out += QByteArray::number(result.line);
    else
        out += "null";
    out += ",\"host\":";
    const QByteArray host = platform::toAnsi(result.host);
    if (!appendString(host, out)) {
        out += ",\"host_bytes\":\"";
        out += host.toBase64();
        out += '"';
    }
    out += ",\"address\":";
    appendText(result.address, out);
    out += ",\"status\":";
    out += QByteArray::number(result.status);
    out += ",\"status_text\":";
    appendString(platform::toAnsi(EchoStatusMessage(result.status)), out);
    out += ",\"rtt_ms\":";
    if (result.roundTripUs) {
        std::snprintf(number, sizeof number, "%llu.%03u", static_cast<unsigned long long>(*result.roundTripUs / 1000),
                      static_cast<unsigned>(*result.roundTripUs % 1000));
        out += number;
    } else {
        out += "null";
    }
    out += ",\"ttl\":";
    if (result.ttl)
        out += QByteArray::number(*result.ttl);
    else
        out += "null";
    out += ",\"router\":";
    appendText(result.router, out);
    out += "}\n";
}

}  // namespace runs
