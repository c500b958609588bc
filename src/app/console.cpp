#include "app/console.h"

#include "platform/ansi.h"
#include "platform/files/file_name.h"
#include "platform/terminal.h"

#include <cstdio>

namespace app {

QByteArray TerminalText(const QByteArray& bytes)
{
    QByteArray text;
    text.reserve(bytes.size());
    qsizetype at = 0;
    while (at < bytes.size()) {
        const unsigned char lead = static_cast<unsigned char>(bytes[at]);
        qsizetype length = platform::utf8SequenceLength(bytes, at);
        // C1 controls are U+0080 to U+009F: C2 80 to C2 9F.
        const bool control = lead < 0x20 || lead == 0x7F ||
                             (length == 2 && lead == 0xC2 && static_cast<unsigned char>(bytes[at + 1]) < 0xA0);
        if (length == 0 || control) {
            length = length == 0 ? 1 : length;
            for (qsizetype i = 0; i < length; ++i)
                text += QByteArrayLiteral("\\x") +
                        QByteArray::number(static_cast<unsigned char>(bytes[at + i]), 16).rightJustified(2, '0');
        } else {
            text += bytes.mid(at, length);
        }
        at += length;
    }
    return text;
}

Console::Console() : terminal_(platform::StandardErrorIsTerminal())
{
    if (terminal_)
        drawer_ = std::jthread([this](std::stop_token stop) { drawLate(stop); });
}

void Console::Say(const QString& line)
{
    const std::lock_guard lock(mutex_);
    if (!shown_.isEmpty())
        std::fputs("\r\033[K", stderr);
    shown_.clear();
    said_ = line;
    std::fprintf(stderr, "quorvex: %s\n", TerminalText(platform::encodeFileName(line)).constData());
    std::fflush(stderr);
    // The progress line comes back at the next drawing.
    changed_.notify_all();
}

QString Console::LastSaid()
{
    const std::lock_guard lock(mutex_);
    return said_;
}

void Console::Progress(int done, int total, const QString& host)
{
    if (!terminal_)
        return;
    const std::lock_guard lock(mutex_);
    wanted_ = QByteArray::number(done) + '/' + QByteArray::number(total) + ' ' + TerminalText(platform::toAnsi(host));
    if (Clock::now() - drawn_ >= kRedraw && !aside_)
        drawLocked();
    else
        changed_.notify_all();
}

void Console::ClearProgress()
{
    const std::lock_guard lock(mutex_);
    if (!shown_.isEmpty())
        std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_.clear();
    wanted_.clear();
}

void Console::StepAside()
{
    const std::lock_guard lock(mutex_);
    aside_ = true;
    if (!shown_.isEmpty())
        std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    shown_.clear();
}

void Console::StepBack()
{
    const std::lock_guard lock(mutex_);
    aside_ = false;
    // Drawn at the drawer's pace, not once per line.
    changed_.notify_all();
}

void Console::Write(const QByteArray& lines)
{
    if (lines.isEmpty())
        return;
    const std::lock_guard lock(mutex_);
    if (!shown_.isEmpty())
        std::fputs("\r\033[K", stderr);
    shown_.clear();
    std::fwrite(lines.constData(), 1, static_cast<std::size_t>(lines.size()), stderr);
    std::fflush(stderr);
    changed_.notify_all();
}

void Console::drawLocked()
{
    std::fprintf(stderr, "\r\033[K%s", wanted_.constData());
    std::fflush(stderr);
    shown_ = wanted_;
    drawn_ = Clock::now();
}

void Console::drawLate(std::stop_token stop)
{
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        const auto due = [&] { return wanted_ != shown_ && !aside_; };
        if (!changed_.wait(lock, stop, due))
            return;
        changed_.wait_until(lock, stop, drawn_ + kRedraw, [] { return false; });
        if (stop.stop_requested())
            return;
        if (due())
            drawLocked();
    }
}

}  // namespace app
