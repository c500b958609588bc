#include "runs/batch_output.h"

#include "probe/echo_status_text.h"
#include "runs/json_lines.h"

namespace runs {

BatchOutput::BatchOutput(platform::FileSystemObject& files, const BatchFile& output, OutputFormat format)
    : stream_(output.standardStream    ? files.CreateStandardOutput()
              : output.replaceWhenDone ? files.CreateReplacementTextFile(output.path)
                                       : files.CreateTextFile(output.path, true)),
      json_(format == OutputFormat::JsonLines)
{
}

void BatchOutput::Hold(const HostResult& result)
{
    if (result.status != 0)
        ++didNotAnswer_;
    if (json_)
        AppendJsonLine(result, held_);
    else if (result.status != 0)
        heldText_.append(result.host + QStringLiteral(" - ") + EchoStatusText(result.status));
}

void BatchOutput::Flush()
{
    for (const QString& line : heldText_)
        stream_.WriteLine(line);
    heldText_.clear();
    if (!held_.isEmpty()) {
        stream_.WriteBytes(held_);
        held_.truncate(0);
    }
}

void BatchOutput::Close() { stream_.Close(); }

}  // namespace runs
