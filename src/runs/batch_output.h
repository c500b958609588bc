#pragma once

#include "platform/files/file_system_object.h"
#include "platform/files/text_stream.h"
#include "runs/batch_file.h"
#include "runs/host_result.h"
#include "runs/json_lines.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <mutex>

namespace runs {

enum class OutputFormat {
    Text,       // a line for each host that did not answer: the host, " - " and the status text
    JsonLines,  // a header, an object for every host, a trailer (json_lines.h)
    // The host alone, ended by LF, as fping's -a and -u show it: of each
    // host that answered, or of each one that did not.
    AnsweredHosts,
    SilentHosts,
};

// When and how the run began, for the JSON header and the trailer's
// elapsed time.
struct RunStart {
    RunHeader header;
    std::chrono::steady_clock::time_point clock = std::chrono::steady_clock::now();
};

// The output of a batch run: created (a file of that name is replaced)
// when this is made, or with BatchFile::replaceWhenDone only at Close(),
// then the lines of the format, in list order. A line is
// held until Flush(), which the runs call once the hosts that settled
// together are all held: on the disk before the next echo, and for a list
// of answering hosts in JSON one write for many lines rather than one each.
// A replacement, which nobody reads before Close(), is written only every
// 64 KiB (or 1,024 text lines) and at Close().
//
// JSON Lines begin with the header, written at once, and end with the
// trailer: "complete" at Close(), "failed" at Fail(), and "interrupted"
// from the thread that takes an ending signal (InterruptAll).
// What a count run's output holds besides a verdict a host.
struct CountOutput {
    // A host that lost some echoes gets a line too (counted by LostSome):
    // "HOST - STATUS   [ TEXT ] (2 of 5 lost)", its last lost echo's status.
    bool failOnLoss = false;
    // Only what the echoes came to: no echo objects (-q).
    bool summariesOnly = false;
};

class BatchOutput {
public:
    BatchOutput(platform::FileSystemObject& files, const BatchFile& output, OutputFormat format = OutputFormat::Text,
                const RunStart& start = {}, const CountOutput& count = {});
    ~BatchOutput();
    BatchOutput(const BatchOutput&) = delete;
    BatchOutput& operator=(const BatchOutput&) = delete;

    // Whether the host gets a line: in JSON every host; for -a one that
    // answered; otherwise one that did not (or lost some, with failOnLoss).
    bool TakesLine(const HostResult& result) const
    {
        if (json_)
            return true;
        if (format_ == OutputFormat::AnsweredHosts)
            return result.status == 0;
        return result.status != 0 || lostSome(result);
    }
    void Hold(const HostResult& result);
    // A count run's echo, for the JSON output.
    void HoldEcho(const HostResult& echo, int seq);
    // The hosts that answered but lost an echo, with failOnLoss.
    int LostSome() const { return lostSome_; }
    // Whether Flush() would write anything now.
    bool FlushDue() const;
    void Flush();
    // The hosts that did not answer, which the file cannot tell when it is
    // a device or a pipe.
    int DidNotAnswer() const { return didNotAnswer_; }
    const QString& Name() const { return stream_.Path(); }
    void Close();
    // The run ends with this error: the trailer says so, if it still can
    // be written. The output is not closed, so a replacement is dropped.
    void Fail(const QString& error);

    // For a signal that ends the process: every JSON output still open
    // gets the lines it holds and the "interrupted" trailer, unless a line
    // of the run's is being written for longer than a moment (a pipe that
    // nobody reads), and takes no line after it.
    static void InterruptAll();

private:
    bool lostSome(const HostResult& result) const
    {
        return count_.failOnLoss && result.status == 0 && result.echoes && result.echoes->lost() > 0;
    }
    bool dueLocked() const;
    void endLocked(RunEnding ending, const QString& error);

    platform::TextStream stream_;
    OutputFormat format_;
    bool json_;
    const CountOutput count_;
    std::chrono::steady_clock::time_point started_;
    // Taken around every change to what is held and every write, by the
    // run's thread and by the one that takes ending signals.
    mutable std::timed_mutex writing_;
    bool ended_ = false;
    QByteArray held_;  // JSON lines; its room is kept, so that a line costs no allocation
    QStringList heldText_;
    int hosts_ = 0;
    int didNotAnswer_ = 0;
    int lostSome_ = 0;
};

}  // namespace runs
