// The JSON Lines writer over any host name as the list hands its bytes to
// the run: one line that parses and gives the bytes back, from "host" when
// they are UTF-8 and from "host_bytes" only when they are not; and the
// same bytes as a failed run's error, a trailer that parses and keeps them
// when they are UTF-8.

#include "platform/ansi.h"
#include "require.h"
#include "runs/json_lines.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray host(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    runs::HostResult result;
    result.host = platform::fromAnsi(host);
    QByteArray line;
    runs::AppendJsonLine(result, line);
    FUZZ_REQUIRE(line.endsWith('\n') && line.count('\n') == 1);
    QJsonParseError error{};
    const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
    FUZZ_REQUIRE(error.error == QJsonParseError::NoError);
    const bool asBytes = object.contains("host_bytes");
    FUZZ_REQUIRE(asBytes != QUtf8StringView(host).isValidUtf8());
    FUZZ_REQUIRE(host == (asBytes ? QByteArray::fromBase64(object["host_bytes"].toString().toLatin1(),
                                                           QByteArray::AbortOnBase64DecodingErrors)
                                  : object["host"].toString().toUtf8()));

    QByteArray trailer;
    runs::AppendJsonEnd({.ending = runs::RunEnding::Failed, .error = host}, trailer);
    FUZZ_REQUIRE(trailer.endsWith('\n') && trailer.count('\n') == 1);
    const QJsonObject end = QJsonDocument::fromJson(trailer, &error).object();
    FUZZ_REQUIRE(error.error == QJsonParseError::NoError);
    FUZZ_REQUIRE(end["type"] == "end" && end["ended"] == "failed");
    FUZZ_REQUIRE(asBytes || end["error"].toString().toUtf8() == host);
    return 0;
}
