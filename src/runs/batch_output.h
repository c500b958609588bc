#pragma once

#include "platform/files/file_system_object.h"
#include "platform/files/text_stream.h"
#include "runs/batch_file.h"
#include "runs/host_result.h"

#include <QByteArray>
#include <QString>

namespace runs {

enum class OutputFormat {
    Text,       // a line for each host that did not answer: the host, " - " and the status text
    JsonLines,  // an object for every host (json_lines.h)
};

// The output of a batch run: created (a file of that name is replaced)
// when this is made, then the lines of the format, in list order, each on
// the disk before the next echo.
class BatchOutput {
public:
    BatchOutput(platform::FileSystemObject& files, const BatchFile& output, OutputFormat format = OutputFormat::Text);

    // Whether the host gets a line: in the text, only a host that did not
    // answer.
    bool TakesLine(const HostResult& result) const { return json_ || result.status != 0; }
    void Write(const HostResult& result);
    // The hosts that did not answer, which the file cannot tell when it is
    // a device or a pipe.
    int DidNotAnswer() const { return didNotAnswer_; }
    const QString& Name() const { return stream_.Path(); }
    void Close();

private:
    platform::TextStream stream_;
    bool json_;
    QByteArray line_;  // kept, so that a line costs no allocation
    int didNotAnswer_ = 0;
};

}  // namespace runs
