#include "platform/files/file_name.h"

namespace platform {
namespace {

constexpr char16_t kFirstEscape = 0xDC80;

bool isEscape(const QString& name, qsizetype i)
{
    const char16_t c = name[i].unicode();
    return c >= kFirstEscape && c <= 0xDCFF && (i == 0 || !name[i - 1].isHighSurrogate());
}

}  // namespace

qsizetype utf8SequenceLength(const QByteArray& bytes, qsizetype at)
{
    const auto byte = [&](qsizetype i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u; };
    const unsigned lead = byte(at);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    unsigned low = 0x80, high = 0xBF;  // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (qsizetype i = 2; i < length; ++i)
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    return length;
}

QString decodeFileName(const QByteArray& bytes)
{
    QString name;
    name.reserve(bytes.size());
    qsizetype at = 0;
    while (at < bytes.size()) {
        qsizetype end = at;
        while (end < bytes.size()) {
            const qsizetype length = utf8SequenceLength(bytes, end);
            if (length == 0)
                break;
            end += length;
        }
        name += QString::fromUtf8(bytes.constData() + at, end - at);
        if (end < bytes.size())
            name += QChar(char16_t(kFirstEscape + static_cast<unsigned char>(bytes[end]) - 0x80));
        at = end + 1;
    }
    return name;
}

QByteArray encodeFileName(const QString& name)
{
    QByteArray bytes;
    bytes.reserve(name.size());
    qsizetype at = 0;
    while (at < name.size()) {
        qsizetype end = at;
        while (end < name.size() && !isEscape(name, end))
            ++end;
        bytes += QStringView(name).sliced(at, end - at).toUtf8();
        if (end < name.size())
            bytes += static_cast<char>(name[end].unicode() - kFirstEscape + 0x80);
        at = end + 1;
    }
    return bytes;
}

}  // namespace platform
