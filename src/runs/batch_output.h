#pragma once

#include "platform/files/file_system_object.h"
#include "platform/files/text_stream.h"
#include "runs/batch_file.h"
#include "runs/host_result.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace runs {

enum class OutputFormat {
    Text,       // a line for each host that did not answer: the host, " - " and the status text
    JsonLines,  // an object for every host (json_lines.h)
};

// The output of a batch run: created (a file of that name is replaced)
// when this is made, or with BatchFile::replaceWhenDone only at Close(),
// then the lines of the format, in list order. A line is
// held until Flush(), which the runs call once the hosts that settled
// together are all held: on the disk before the next echo, and for a list
// of answering hosts in JSON one write for many lines rather than one each.
class BatchOutput {
public:
    BatchOutput(platform::FileSystemObject& files, const BatchFile& output, OutputFormat format = OutputFormat::Text);

    // Whether the host gets a line: in the text, only a host that did not
    // answer.
    bool TakesLine(const HostResult& result) const { return json_ || result.status != 0; }
    void Hold(const HostResult& result);
    bool Holding() const { return !held_.isEmpty() || !heldText_.isEmpty(); }
    void Flush();
    // The hosts that did not answer, which the file cannot tell when it is
    // a device or a pipe.
    int DidNotAnswer() const { return didNotAnswer_; }
    const QString& Name() const { return stream_.Path(); }
    void Close();

private:
    platform::TextStream stream_;
    bool json_;
    QByteArray held_;  // JSON lines; its room is kept, so that a line costs no allocation
    QStringList heldText_;
    int didNotAnswer_ = 0;
};

}  // namespace runs
