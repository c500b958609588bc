#include "runs/batch_output.h"

#include "platform/ansi.h"
#include "platform/files/file_name.h"
#include "platform/runtime_error.h"
#include "probe/echo_status_text.h"

#include <vector>

namespace runs {
namespace {

// The JSON outputs open in this process, for a signal that ends it.
struct Open {
    std::mutex mutex;
    std::vector<BatchOutput*> outputs;
};

Open& open()
{
    static Open all;
    return all;
}

}  // namespace

BatchOutput::BatchOutput(platform::FileSystemObject& files, const BatchFile& output, OutputFormat format,
                         const RunStart& start, const CountOutput& count)
    : stream_(output.standardStream    ? files.CreateStandardOutput()
              : output.replaceWhenDone ? files.CreateReplacementTextFile(output.path)
                                       : files.CreateTextFile(output.path, true)),
      format_(format),
      json_(format == OutputFormat::JsonLines),
      count_(count),
      started_(start.clock)
{
    if (!json_)
        return;
    QByteArray line;
    AppendJsonHeader(start.header, line);
    stream_.WriteBytes(line);
    const std::lock_guard lock(open().mutex);
    open().outputs.push_back(this);
}

BatchOutput::~BatchOutput()
{
    const std::lock_guard lock(open().mutex);
    std::erase(open().outputs, this);
}

void BatchOutput::Hold(const HostResult& result)
{
    const std::lock_guard lock(writing_);
    if (ended_)
        return;
    if (result.status != 0)
        ++didNotAnswer_;
    const bool lossy = lostSome(result);
    lostSome_ += lossy ? 1 : 0;
    if (json_) {
        if (result.echoes)
            AppendJsonSummary(result, held_);
        else
            AppendJsonLine(result, held_);
        ++hosts_;
    } else if (format_ != OutputFormat::Text) {
        held_ += platform::toAnsi(result.host) + '\n';
    } else if (result.status != 0) {
        heldText_.append(result.host + QStringLiteral(" - ") + EchoStatusText(result.status));
    } else if (lossy) {
        const EchoStatistics& echoes = *result.echoes;
        heldText_.append(result.host + QStringLiteral(" - ") + EchoStatusText(result.lostStatus) +
                         QStringLiteral(" (%1 of %2 lost)").arg(echoes.lost()).arg(echoes.sent()));
    }
}

void BatchOutput::HoldEcho(const HostResult& echo, int seq)
{
    if (!json_ || count_.summariesOnly)
        return;
    const std::lock_guard lock(writing_);
    if (!ended_)
        AppendJsonEcho(echo, seq, held_);
}

bool BatchOutput::dueLocked() const
{
    // A replacement is read by nobody before it is renamed, and a signal
    // drops it: writing it line by line would cost a list of answering
    // hosts one write a host in JSON, for no reader.
    constexpr qsizetype kUnseenHeld = 64 * 1024;
    if (stream_.UnseenUntilClosed())
        return held_.size() >= kUnseenHeld || heldText_.size() >= 1024;
    return !held_.isEmpty() || !heldText_.isEmpty();
}

bool BatchOutput::FlushDue() const
{
    const std::lock_guard lock(writing_);
    return dueLocked();
}

void BatchOutput::Flush()
{
    const std::lock_guard lock(writing_);
    if (ended_)
        return;
    if (!dueLocked())
        return;
    for (const QString& line : heldText_)
        stream_.WriteLine(line);
    heldText_.clear();
    if (!held_.isEmpty()) {
        stream_.WriteBytes(held_);
        held_.truncate(0);
    }
}

void BatchOutput::endLocked(RunEnding ending, const QString& error)
{
    ended_ = true;
    for (const QString& line : heldText_)
        stream_.WriteLine(line);
    heldText_.clear();
    if (!json_)
        return;
    AppendJsonEnd(
        {.hosts = hosts_,
         .answered = hosts_ - didNotAnswer_,
         .elapsedUs = static_cast<std::uint64_t>(
             std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started_).count()),
         .ending = ending,
         .error = platform::encodeFileName(error)},
        held_);
    stream_.WriteBytes(held_);
    held_.clear();
}

void BatchOutput::Close()
{
    {
        const std::lock_guard lock(writing_);
        if (!ended_)
            endLocked(RunEnding::Complete, {});
    }
    stream_.Close();
}

void BatchOutput::Fail(const QString& error)
{
    const std::lock_guard lock(writing_);
    if (ended_)
        return;
    try {
        endLocked(RunEnding::Failed, error);
    } catch (const platform::RuntimeError&) {
        // The error that ends the run is likely this one again.
    }
}

void BatchOutput::InterruptAll()
{
    const std::lock_guard lock(open().mutex);
    for (BatchOutput* output : open().outputs) {
        std::unique_lock writing(output->writing_, std::chrono::seconds(1));
        if (!writing.owns_lock() || output->ended_)
            continue;
        try {
            output->endLocked(RunEnding::Interrupted, {});
        } catch (const platform::RuntimeError&) {
            // Without a trailer the stream still reads as cut.
        }
    }
}

}  // namespace runs
