#include "runs/batch_output.h"

#include "probe/echo_status_text.h"
#include "runs/json_lines.h"

namespace runs {

BatchOutput::BatchOutput(platform::FileSystemObject& files, const BatchFile& output, OutputFormat format)
    : stream_(output.standardStream ? files.CreateStandardOutput() : files.CreateTextFile(output.path, true)),
      json_(format == OutputFormat::JsonLines)
{
}

void BatchOutput::Write(const HostResult& result)
{
    if (result.status != 0)
        ++didNotAnswer_;
    if (!json_) {
        if (result.status != 0)
            stream_.WriteLine(result.host + QStringLiteral(" - ") + EchoStatusText(result.status));
        return;
    }
    line_.clear();
    AppendJsonLine(result, line_);
    stream_.WriteBytes(line_);
}

void BatchOutput::Close() { stream_.Close(); }

}  // namespace runs
