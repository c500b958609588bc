#pragma once

#include "platform/files/file_system_object.h"
#include "platform/files/text_stream.h"
#include "runs/batch_file.h"

#include <QString>

#include <cstdint>

namespace runs {

// The output of a batch run: created (a file of that name is replaced)
// when this is made, then one line for each host that did not answer, the
// host, " - " and the status text, each on the disk before the next echo.
class BatchOutput {
public:
    BatchOutput(platform::FileSystemObject& files, const BatchFile& output);

    void HostDidNotAnswer(const QString& host, std::int32_t status);
    // The lines written, which the file cannot tell when it is a device or
    // a pipe.
    int Lines() const { return lines_; }
    const QString& Name() const { return stream_.Path(); }
    void Close();

private:
    platform::TextStream stream_;
    int lines_ = 0;
};

}  // namespace runs
