#include "platform/ansi.h"
#include "runs/json_lines.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

// Whatever bytes a list holds, the line parses and gives the host's bytes
// back: from "host" when it is UTF-8, else from "host_bytes" alone.
TEST(JsonLines, EveryHostGivesOneParsableLineThatKeepsItsBytes)
{
    const struct {
        QByteArray host;
        bool utf8;
    } cases[] = {
        {"answering.lab", true},
        {"", true},
        {"quote\" backslash\\ slash/", true},
        {QByteArray("\x00\x01\x1f\x7f\t\r\n\x1b[31m", 11), true},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", true},
        {"\xfe", false},
        {"latin-1 caf\xe9", false},
        {"\xc3", false},                 // cut short
        {"\xc0\xaf", false},             // overlong
        {"\xed\xa0\x80", false},         // a surrogate
        {"\xf4\x90\x80\x80", false},     // past U+10FFFF
        {"\xef\xbf\xbd", true},          // U+FFFD itself is no sign of loss
        {"\xe2\x80\xa8\xc2\x85", true},  // line separator, NEL
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host.toHex().toStdString());
        runs::HostResult result;
        result.line = 7;
        result.host = platform::fromAnsi(c.host);
        result.status = 11010;
        QByteArray line;
        runs::AppendJsonLine(result, line);
        ASSERT_TRUE(line.endsWith('\n'));
        EXPECT_EQ(line.count('\n'), 1);
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_EQ(object.contains("host_bytes"), !c.utf8);
        const QByteArray bytes = c.utf8 ? object["host"].toString().toUtf8()
                                        : QByteArray::fromBase64(object["host_bytes"].toString().toLatin1());
        EXPECT_EQ(bytes, c.host);
        EXPECT_EQ(object["line"].toInt(), 7);
        EXPECT_EQ(object["status_text"].toString(), "ip req timed out");
    }
}

// The round trip keeps its microseconds; what is unknown is null, never 0.
TEST(JsonLines, NumbersAndNulls)
{
    const struct {
        runs::HostResult result;
        const char* line;
    } cases[] = {
        {{1, "a", "192.0.2.1", 0, 1005, 64, {}},
         R"({"line":1,"host":"a","address":"192.0.2.1","status":0,"status_text":"ip success","rtt_ms":1.005,)"
         R"("ttl":64,"router":null})"},
        {{3, "c", "192.0.2.3", 11013, {}, {}, "198.51.100.1"},
         R"({"line":3,"host":"c","address":"192.0.2.3","status":11013,"status_text":"ip ttl expired transit",)"
         R"("rtt_ms":null,"ttl":null,"router":"198.51.100.1"})"},
    };
    for (const auto& c : cases) {
        QByteArray line;
        runs::AppendJsonLine(c.result, line);
        EXPECT_EQ(line.toStdString(), std::string(c.line) + "\n");
    }
}

}  // namespace
