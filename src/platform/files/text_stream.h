#pragma once

#include "platform/files/files.h"

#include <QByteArray>
#include <QString>

namespace platform {

// A text stream of the file system object over one file of single-byte
// text. Reading takes CR LF, a lone LF and a lone CR as line breaks;
// writing ends every line with CR LF and hands it to the file system at
// once, so that a run that dies keeps every line it wrote.
class TextStream {
public:
    // No host name comes near this; a longer line is not a host list.
    static constexpr qsizetype kLongestLine = 65536;

    TextStream(OpenedFile file, QString path);
    TextStream(TextStream&&) noexcept = default;
    TextStream& operator=(TextStream&&) noexcept = default;
    ~TextStream();

    // True when the next character is a line break or none is left.
    bool AtEndOfLine();
    // True when no character is left.
    bool AtEndOfStream();
    // The bytes up to the next line break, past which the stream moves.
    QByteArray ReadLineBytes();
    // Moves past the next line, of whatever length, and gives its length.
    qint64 SkipLine();
    // The text and CR LF.
    void WriteLine(const QString& text);
    // Bytes as they are, for output that is not single-byte text.
    void WriteBytes(const QByteArray& bytes);
    void Close();

    const QString& Path() const { return path_; }
    // Whether opening the file again gives its bytes again (a regular file).
    bool Rereadable() const { return file_.rereadable; }
    bool Terminal() const { return file_.terminal; }
    // Whether nobody can read what is written before Close() (a
    // replacement, renamed over its file only then).
    bool UnseenUntilClosed() const { return file_.replacement != nullptr; }

private:
    // The next byte, or -1 at the end of the file.
    int peek();
    bool fill();
    void skipLineBreak();

    OpenedFile file_;
    QString path_;
    QByteArray buffer_;
    qsizetype position_ = 0;
    qint64 linesRead_ = 0;
};

}  // namespace platform
