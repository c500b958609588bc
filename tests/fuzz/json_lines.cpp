// The JSON Lines writer over any host name. Input: the host's bytes, as
// the list hands them to the run (the text stream's corpus is a source of
// them). Every line must parse as JSON, be one line, and give the host's
// bytes back: "host" when it is UTF-8, otherwise "host_bytes".

#include "platform/ansi.h"
#include "require.h"
#include "runs/json_lines.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray host(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    runs::HostResult result;
    result.line = 1;
    result.host = platform::fromAnsi(host);
    result.address = QStringLiteral("127.0.0.1");
    result.status = size % 2 == 0 ? 0 : 11003;
    if (result.status == 0) {
        result.roundTripUs = size * 997;
        result.ttl = static_cast<std::uint8_t>(size);
    } else {
        result.router = QStringLiteral("127.0.0.2");
    }
    QByteArray line;
    runs::AppendJsonLine(result, line);
    FUZZ_REQUIRE(line.endsWith('\n') && line.count('\n') == 1);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    FUZZ_REQUIRE(error.error == QJsonParseError::NoError && document.isObject());
    const QJsonObject object = document.object();
    const QByteArray back = object.contains("host_bytes")
                                ? QByteArray::fromBase64(object["host_bytes"].toString().toLatin1(),
                                                         QByteArray::AbortOnBase64DecodingErrors)
                                : object["host"].toString().toUtf8();
    FUZZ_REQUIRE(back == host);
    // Bytes that are UTF-8 never take the longer form.
    FUZZ_REQUIRE(object.contains("host_bytes") != QUtf8StringView(host).isValidUtf8());
    return 0;
}
