#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// File names are bytes to the file system. On a desktop they are UTF-8,
// but a name given on the command line need not be, and Qt would turn
// every byte that is not UTF-8 into U+FFFD: another name, often of another
// file. decodeFileName keeps each such byte as one of the lone surrogates
// U+DC80 to U+DCFF, which no valid UTF-8 decodes to, and encodeFileName
// turns them back into their bytes, so a name reaches the file system byte
// for byte; a name typed into the window encodes as Qt would encode it.
QString decodeFileName(const QByteArray& bytes);
QByteArray encodeFileName(const QString& name);

// The length of the well-formed UTF-8 sequence that starts at `at`, or 0:
// no overlong forms, no surrogates, nothing above U+10FFFF.
qsizetype utf8SequenceLength(const QByteArray& bytes, qsizetype at);

}  // namespace platform
