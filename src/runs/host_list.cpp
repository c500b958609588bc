#include "runs/host_list.h"

#include "platform/ansi.h"
#include "platform/runtime_error.h"

#include <QHash>

namespace runs {
namespace {

platform::TextStream open(platform::FileSystemObject& files, const BatchFile& input)
{
    return input.standardStream ? files.OpenStandardInput() : files.OpenTextFile(input.path, platform::ForReading);
}

// Spaces only: a tab beside a name is part of it.
QString trimSpaces(const QString& line)
{
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && line[begin] == u' ')
        ++begin;
    while (end > begin && line[end - 1] == u' ')
        --end;
    return line.sliced(begin, end - begin);
}

}  // namespace

HostList::HostList(platform::FileSystemObject& files, BatchFile input)
    : files_(files), input_(std::move(input)), stream_(open(files, input_)), keep_(!stream_.Rereadable())
{
}

std::int16_t HostList::Count(bool lookPast)
{
    qsizetype keptBytes = 0;
    while (!stream_.AtEndOfLine()) {
        if (counted_ == kMostHosts)
            throw platform::RuntimeError(platform::error_number::Overflow,
                                         QStringLiteral("\"%1\" lists more than 32767 hosts before its first empty "
                                                        "line.")
                                             .arg(stream_.Path()));
        ++counted_;
        QByteArray line = stream_.ReadLineBytes();
        if (!keep_) {
            hashes_.push_back(hash(line));
            continue;
        }
        keptBytes += line.size();
        if (keptBytes > kMostKeptBytes)
            throw platform::RuntimeError(platform::error_number::Overflow,
                                         QStringLiteral("the hosts of \"%1\" take more than 16 MiB; only a list "
                                                        "that can be read twice, a regular file, may be longer.")
                                             .arg(stream_.Path()));
        line.squeeze();  // the room it grew into while it was read
        kept_.append(std::move(line));
    }
    if (lookPast && !stream_.Terminal() && !stream_.AtEndOfStream())
        lookPastTheEnd();
    return counted_;
}

// Not on a terminal, where the operator's empty line ends the list and
// nothing follows until they type it. A pipe, a FIFO or a device is read
// to its end, as nobody types into it: a host left behind an empty line
// there would go unchecked without a word. Bounded, for a huge file or an
// endless device.
void HostList::lookPastTheEnd()
{
    CutShort cut{counted_ + 1, 0, false};
    stream_.SkipLine();
    bool someText = false;
    qint64 looked = 0;
    while (!stream_.AtEndOfStream()) {
        if (looked > kMostKeptBytes) {
            cut.atLeast = true;
            break;
        }
        const qint64 length = stream_.SkipLine();
        looked += length + 1;
        someText = someText || length > 0;
        ++cut.linesAfter;
    }
    if (someText)
        cutShort_ = cut;
}

void HostList::StartPingPass()
{
    if (keep_)
        return;
    stream_.Close();
    stream_ = open(files_, input_);
}

std::optional<QString> HostList::NextHost()
{
    if (handedOut_ == counted_)
        return std::nullopt;
    QByteArray line;
    if (keep_) {
        line = std::exchange(kept_[handedOut_], {});
    } else {
        const bool changed = stream_.AtEndOfLine() || hash(line = stream_.ReadLineBytes()) != hashes_[handedOut_];
        if (changed)
            throw platform::RuntimeError(platform::error_number::PathFileAccessError,
                                         QStringLiteral("\"%1\" was changed while the run read it: line %2 is not "
                                                        "the line that was counted.")
                                             .arg(stream_.Path())
                                             .arg(handedOut_ + 1));
    }
    ++handedOut_;
    return trimSpaces(platform::fromAnsi(line));
}

void HostList::Close() { stream_.Close(); }

std::size_t HostList::hash(const QByteArray& line) const
{
    // A salt of the process's own: a file made to collide would need to know it.
    static const std::size_t salt = QHashSeed::globalSeed();
    return qHash(line, salt);
}

}  // namespace runs
