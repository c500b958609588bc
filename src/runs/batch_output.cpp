#include "runs/batch_output.h"

#include "probe/echo_status_text.h"

namespace runs {

BatchOutput::BatchOutput(platform::FileSystemObject& files, const BatchFile& output)
    : stream_(output.standardStream ? files.CreateStandardOutput() : files.CreateTextFile(output.path, true))
{
}

void BatchOutput::HostDidNotAnswer(const QString& host, std::int32_t status)
{
    stream_.WriteLine(host + QStringLiteral(" - ") + EchoStatusText(status));
    ++lines_;
}

void BatchOutput::Close() { stream_.Close(); }

}  // namespace runs
