#include "platform/files/text_stream.h"

#include "platform/ansi.h"
#include "platform/runtime_error.h"

#include <algorithm>
#include <utility>

namespace platform {
namespace {

constexpr qint64 kChunk = 64 * 1024;

RuntimeError ioError(int number, const QString& path, const QString& what, const QIODevice& device)
{
    return RuntimeError(number, QStringLiteral("\"%1\" %2: %3.").arg(path, what, device.errorString()));
}

}  // namespace

TextStream::TextStream(OpenedFile file, QString path) : file_(std::move(file)), path_(std::move(path)) {}

TextStream::~TextStream()
{
    if (file_.device)
        file_.device->close();
}

bool TextStream::fill()
{
    buffer_.remove(0, position_);
    position_ = 0;
    const qsizetype kept = buffer_.size();
    buffer_.resize(kept + kChunk);
    const qint64 got = file_.device->read(buffer_.data() + kept, kChunk);
    if (got < 0)
        throw ioError(error_number::DeviceIoError, path_, QStringLiteral("cannot be read"), *file_.device);
    buffer_.resize(kept + got);
    return got > 0;
}

int TextStream::peek()
{
    if (position_ == buffer_.size() && !fill())
        return -1;
    return static_cast<unsigned char>(buffer_[position_]);
}

bool TextStream::AtEndOfLine()
{
    const int next = peek();
    return next == -1 || next == '\r' || next == '\n';
}

bool TextStream::AtEndOfStream() { return peek() == -1; }

QByteArray TextStream::ReadLineBytes()
{
    ++linesRead_;
    if (peek() == -1)
        throw RuntimeError(error_number::InputPastEndOfFile,
                           QStringLiteral("\"%1\" has no line %2.").arg(path_).arg(linesRead_));
    QByteArray line;
    while (position_ < buffer_.size() || fill()) {
        const char* const data = buffer_.constData();
        qsizetype end = position_;
        while (end < buffer_.size() && data[end] != '\r' && data[end] != '\n')
            ++end;
        line.append(data + position_, end - position_);
        position_ = end;
        if (line.size() > kLongestLine)
            throw RuntimeError(error_number::PathFileAccessError,
                               QStringLiteral("line %1 of \"%2\" is longer than %3 characters: the file is not a "
                                              "list of hosts.")
                                   .arg(linesRead_)
                                   .arg(path_)
                                   .arg(kLongestLine));
        if (end < buffer_.size())
            break;
    }
    skipLineBreak();
    return line;
}

qint64 TextStream::SkipLine()
{
    ++linesRead_;
    qint64 length = 0;
    while (position_ < buffer_.size() || fill()) {
        const char* const data = buffer_.constData();
        qsizetype end = position_;
        while (end < buffer_.size() && data[end] != '\r' && data[end] != '\n')
            ++end;
        length += end - position_;
        position_ = end;
        if (end < buffer_.size())
            break;
    }
    skipLineBreak();
    return length;
}

void TextStream::skipLineBreak()
{
    const int lineBreak = peek();
    if (lineBreak == '\r') {
        ++position_;
        if (peek() == '\n')
            ++position_;
    } else if (lineBreak == '\n') {
        ++position_;
    }
}

void TextStream::WriteLine(const QString& text)
{
    const QByteArray line = toAnsi(text) + "\r\n";
    if (file_.device->write(line) != line.size())
        throw ioError(writeErrorNumber(*file_.device), path_, QStringLiteral("cannot be written"), *file_.device);
}

void TextStream::WriteBytes(const QByteArray& bytes)
{
    if (file_.device->write(bytes) != bytes.size())
        throw ioError(writeErrorNumber(*file_.device), path_, QStringLiteral("cannot be written"), *file_.device);
}

void TextStream::Close()
{
    if (file_.device)
        file_.device->close();
    if (file_.replacement) {
        file_.replacement->commit();
        file_.replacement.reset();
    }
}

}  // namespace platform
