#include "platform/ansi.h"
#include "runs/json_lines.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

// One row per rule; the fuzz target round-trips every other name.
TEST(JsonLines, EveryHostGivesOneParsableLineThatKeepsItsBytes)
{
    const struct {
        QByteArray host;
        bool utf8;
    } cases[] = {
        {"caf\xc3\xa9 \xf0\x9f\x98\x80 \xef\xbf\xbd", true},  // U+FFFD itself is no sign of loss
        {"latin-1 caf\xe9", false},
        {QByteArray("\x00\x1f\x7f\r\n\x1b[31m", 9), true},
        {"quote\" backslash\\", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host.toHex().toStdString());
        QByteArray line;
        runs::AppendJsonLine({7, platform::fromAnsi(c.host), {}, 11010, {}, {}, {}}, line);
        EXPECT_EQ(line.count('\n'), 1);
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_EQ(object.contains("host_bytes"), !c.utf8);
        EXPECT_EQ(c.utf8 ? object["host"].toString().toUtf8()
                         : QByteArray::fromBase64(object["host_bytes"].toString().toLatin1()),
                  c.host);
    }
}

// Microseconds kept; what is unknown is null, never 0.
TEST(JsonLines, NumbersAndNulls)
{
    const struct {
        runs::HostResult result;
        const char* line;
    } cases[] = {
        {{1, "a", "192.0.2.1", 0, 1005, 64, {}},
         R"({"type":"host","line":1,"host":"a","address":"192.0.2.1","status":0,"status_text":"ip success","rtt_ms":1.005,)"
         R"("ttl":64,"router":null})"},
        {{3, "c", "192.0.2.3", 11013, {}, {}, "198.51.100.1"},
         R"({"type":"host","line":3,"host":"c","address":"192.0.2.3","status":11013,"status_text":"ip ttl expired transit",)"
         R"("rtt_ms":null,"ttl":null,"router":"198.51.100.1"})"},
    };
    for (const auto& c : cases) {
        QByteArray line;
        runs::AppendJsonLine(c.result, line);
        EXPECT_EQ(line.toStdString(), std::string(c.line) + "\n");
    }
}

// The frame around the hosts: times in UTC whatever the zone, and how the
// run ended, with the error only when it failed.
TEST(JsonLines, HeaderAndTrailer)
{
    QByteArray out;
    runs::AppendJsonHeader({"1.2.0", QDateTime::fromMSecsSinceEpoch(1796858694120, QTimeZone(3600)), 200, 2, 64}, out);
    runs::AppendJsonEnd({14, 3, 412018, runs::RunEnding::Complete, "not written"}, out);
    runs::AppendJsonEnd({1, 0, 5, runs::RunEnding::Interrupted, {}}, out);
    runs::AppendJsonEnd({0, 0, 1000000, runs::RunEnding::Failed, "Disk full: \"a\xfe\" cannot be written."}, out);
    EXPECT_EQ(out.toStdString(), R"({"type":"run","format":1,"version":"1.2.0","started":"2026-12-09T23:24:54.120Z",)"
                                 R"("options":{"timeout_ms":200,"retries":2,"parallel":64}})"
                                 "\n"
                                 R"({"type":"end","hosts":14,"answered":3,"elapsed_ms":412.018,"ended":"complete"})"
                                 "\n"
                                 R"({"type":"end","hosts":1,"answered":0,"elapsed_ms":0.005,"ended":"interrupted"})"
                                 "\n"
                                 R"({"type":"end","hosts":0,"answered":0,"elapsed_ms":1000.000,"ended":"failed",)"
                                 R"("error":"Disk full: \"a)"
                                 "\xef\xbf\xbd"
                                 R"(\" cannot be written."})"
                                 "\n");
}

}  // namespace
