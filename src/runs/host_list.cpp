#include "runs/host_list.h"

#include "platform/ansi.h"
#include "platform/runtime_error.h"

#include <QRandomGenerator>

#include <bit>
#include <cstring>

namespace runs {
namespace {

platform::TextStream open(platform::FileSystemObject& files, const BatchFile& input)
{
    return input.standardStream ? files.OpenStandardInput() : files.OpenTextFile(input.path, platform::ForReading);
}

// Spaces only: a tab beside a name is part of it. A line without them is
// handed on as it is, without a copy.
QString trimSpaces(QString line)
{
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && line[begin] == u' ')
        ++begin;
    while (end > begin && line[end - 1] == u' ')
        --end;
    if (begin == 0 && end == line.size())
        return line;
    return line.sliced(begin, end - begin);
}

// SipHash-2-4 under a key of the process's own: a file made to collide
// would need to know it. qHash would do as well but, on some processors,
// spends more on a line shorter than 16 bytes, as most host names are, than
// the rest of the run does on that host.
class LineHash {
public:
    LineHash() { QRandomGenerator::system()->fillRange(key_, 2); }

    std::uint64_t operator()(const QByteArray& line) const
    {
        std::uint64_t v0 = key_[0] ^ 0x736f6d6570736575;
        std::uint64_t v1 = key_[1] ^ 0x646f72616e646f6d;
        std::uint64_t v2 = key_[0] ^ 0x6c7967656e657261;
        std::uint64_t v3 = key_[1] ^ 0x7465646279746573;
        const auto rounds = [&](int count) {
            for (int i = 0; i < count; ++i) {
                v0 += v1;
                v1 = std::rotl(v1, 13) ^ v0;
                v0 = std::rotl(v0, 32);
                v2 += v3;
                v3 = std::rotl(v3, 16) ^ v2;
                v0 += v3;
                v3 = std::rotl(v3, 21) ^ v0;
                v2 += v1;
                v1 = std::rotl(v1, 17) ^ v2;
                v2 = std::rotl(v2, 32);
            }
        };
        const auto size = static_cast<std::size_t>(line.size());
        const char* const bytes = line.constData();
        std::size_t at = 0;
        for (; at + 8 <= size; at += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes + at, 8);
            v3 ^= word;
            rounds(2);
            v0 ^= word;
        }
        std::uint64_t last = std::uint64_t{size} << 56;
        for (std::size_t i = 0; at + i < size; ++i)
            last |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
        v3 ^= last;
        rounds(2);
        v0 ^= last;
        v2 ^= 0xff;
        rounds(4);
        return v0 ^ v1 ^ v2 ^ v3;
    }

private:
    std::uint64_t key_[2];
};

}  // namespace

HostList::HostList(platform::FileSystemObject& files, BatchFile input)
    : files_(files), input_(std::move(input)), stream_(open(files, input_)), keep_(!stream_.Rereadable())
{
}

std::int16_t HostList::Count(bool lookPast, const HostRefusal& refusal)
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
        if (refusal)
            refuseIf(refusal, line);
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

void HostList::refuseIf(const HostRefusal& refusal, const QByteArray& line) const
{
    QByteArrayView host(line);
    while (host.startsWith(' '))
        host = host.sliced(1);
    while (host.endsWith(' '))
        host.chop(1);
    if (const std::optional<QString> why = refusal(host))
        throw platform::RuntimeError(platform::error_number::InvalidProcedureCall,
                                     QStringLiteral("line %1 of \"%2\" is %3, %4.")
                                         .arg(counted_)
                                         .arg(stream_.Path(), platform::fromAnsi(host.toByteArray()), *why));
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

QString TrimHost(QString line) { return trimSpaces(std::move(line)); }

std::uint64_t HostList::hash(const QByteArray& line) const
{
    static const LineHash lineHash;
    return lineHash(line);
}

}  // namespace runs
