// The text stream's reader over any bytes. Input: one byte for how many
// bytes the device hands out per read (0: as many as asked, as a file
// does; otherwise at most that many, as a pipe does), one byte that picks
// the call for each line, two bits a line, from the lowest (2 SkipLine,
// anything else ReadLineBytes), then the file. Every line
// comes back, whatever the pieces and the calls, up to the end of the file.

#include "platform/files/text_stream.h"
#include "platform/runtime_error.h"
#include "require.h"

#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

namespace {

class PieceDevice final : public QIODevice {
public:
    PieceDevice(QByteArrayView bytes, qint64 piece) : bytes_(bytes), piece_(piece)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 count = std::min({maxSize, piece_, bytes_.size() - at_});
        std::memcpy(data, bytes_.constData() + at_, static_cast<std::size_t>(count));
        at_ += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArrayView bytes_;
    qint64 piece_;
    qint64 at_ = 0;
};

bool isBreak(char c) { return c == '\r' || c == '\n'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    if (size < 2)
        return 0;
    const qint64 piece = input[0] == 0 ? std::numeric_limits<qint64>::max() : input[0];
    const std::uint8_t calls = input[1];
    const QByteArrayView file(input + 2, static_cast<qsizetype>(size - 2));
    platform::TextStream stream({std::make_unique<PieceDevice>(file, piece), {}}, QStringLiteral("fuzz"));

    qsizetype at = 0;
    for (int index = 0;; ++index) {
        // Each may be the first to look past what was read so far.
        const bool endOfStream = at == file.size();
        if (index % 2 == 0)
            FUZZ_REQUIRE(stream.AtEndOfStream() == endOfStream);
        FUZZ_REQUIRE(stream.AtEndOfLine() == (endOfStream || isBreak(file[at])));
        FUZZ_REQUIRE(stream.AtEndOfStream() == endOfStream);
        qsizetype end = at;
        while (end < file.size() && !isBreak(file[end]))
            ++end;
        const int call = calls >> (index % 4 * 2) & 3;
        // Errors name the line by its number, counted from 1.
        const QString number = QString::number(index + 1);
        if (call == 2) {
            // Skipped lines have no bound: only their length is kept.
            const qint64 length = stream.SkipLine();
            FUZZ_REQUIRE(length == end - at);
            if (at == file.size()) {
                FUZZ_REQUIRE(stream.AtEndOfStream());
                return 0;
            }
        } else {
            QByteArray line;
            try {
                line = stream.ReadLineBytes();
            } catch (const platform::RuntimeError& error) {
                const QString& said = error.description();
                FUZZ_REQUIRE((at == file.size() && error.number() == platform::error_number::InputPastEndOfFile &&
                              said.contains(QStringLiteral("no line ") + number)) ||
                             (end - at > platform::TextStream::kLongestLine &&
                              error.number() == platform::error_number::PathFileAccessError &&
                              said.contains(QStringLiteral("line ") + number + u' ')));
                return 0;
            }
            FUZZ_REQUIRE(at < file.size() && end - at <= platform::TextStream::kLongestLine);
            FUZZ_REQUIRE(line == file.sliced(at, end - at));
        }
        // One break: CR LF, LF or a lone CR.
        at = end;
        if (at < file.size() && file[at] == '\r')
            ++at;
        if (at < file.size() && file[at] == '\n')
            ++at;
    }
}
