#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// The single-byte code page that stands for the system's ANSI code page:
// Latin-1, where every byte is one character and back.
inline QByteArray toAnsi(const QString& text) { return text.toLatin1(); }
inline QString fromAnsi(const QByteArray& bytes) { return QString::fromLatin1(bytes); }

}  // namespace platform
