#pragma once

#include "platform/files/file_system_object.h"
#include "platform/files/text_stream.h"
#include "runs/batch_file.h"

#include <QByteArrayList>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace runs {

// The hosts of a batch run's list, up to its first empty line: counted
// first, then handed out one by one exactly as they were counted, so that
// a run never pings a host it did not count nor passes the progress
// maximum, whatever the list is.
//
// A regular file is read twice, as the design has it, and opened again for
// the second pass. The counting pass keeps a 64-bit hash of each line
// (256 KiB at most); the ping pass stops at the counted number and ends
// with an error at the first line that is not the one counted, before it is
// pinged: the file was changed in between. A file that only grew behind
// the counted lines is read as counted.
//
// Standard input, a pipe, a FIFO or a device gives its bytes once: opened
// again, a FIFO waits for a writer that has gone and a device gives other
// lines. Their counting pass keeps the lines themselves, at most
// kMostKeptBytes of them, and the ping pass hands those out.
class HostList {
public:
    static constexpr qsizetype kMostKeptBytes = 16 * 1024 * 1024;
    static constexpr std::int16_t kMostHosts = 32767;

    // Lines behind the empty line that ended the list, which the run does
    // not read; told only on the command line.
    struct CutShort {
        qint64 emptyLine = 0;   // its number, from 1
        qint64 linesAfter = 0;  // a trailing line break adds none
        bool atLeast = false;   // not all of them were looked at
    };

    // Opens the list.
    HostList(platform::FileSystemObject& files, BatchFile input);

    // Why a host (its line, without the spaces at both ends) may not be
    // pinged, or nothing.
    using HostRefusal = std::function<std::optional<QString>(QByteArrayView host)>;

    // The counting pass; more than kMostHosts hosts is the overflow error,
    // and a host that `refusal` refuses ends it with an error naming its
    // line, before anything is pinged. With lookPastTheEnd, a list that is
    // not a terminal is also read past the empty line that ends the list,
    // for cutShort().
    std::int16_t Count(bool lookPastTheEnd = false, const HostRefusal& refusal = {});
    // Ends the counting pass and starts the ping pass.
    void StartPingPass();
    // The next counted line with the spaces at both ends removed, or
    // nothing after the last.
    std::optional<QString> NextHost();
    void Close();

    const std::optional<CutShort>& cutShort() const { return cutShort_; }

private:
    void lookPastTheEnd();
    void refuseIf(const HostRefusal& refusal, const QByteArray& line) const;
    std::uint64_t hash(const QByteArray& line) const;

    platform::FileSystemObject& files_;
    BatchFile input_;
    platform::TextStream stream_;
    bool keep_;
    std::int16_t counted_ = 0;
    std::int16_t handedOut_ = 0;
    std::vector<std::uint64_t> hashes_;
    QByteArrayList kept_;
    std::optional<CutShort> cutShort_;
};

// A line of a list as the run takes it: without the spaces at both ends.
QString TrimHost(QString line);

}  // namespace runs
