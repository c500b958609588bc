#pragma once

#include "platform/seam.h"

#include <QIODevice>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace platform {

// Where a file lives, whatever name leads to it: another spelling, "..",
// a symbolic or a hard link all give the same identity.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

struct OpenedFile {
    std::unique_ptr<QIODevice> device;
    FileIdentity identity;
    // Opened again, a regular file gives the same bytes unless it was
    // changed; a pipe, a FIFO or a device gives other bytes, none, or waits
    // for a writer that has gone.
    bool rereadable = true;
    // Someone types into it: its end comes only when they say so.
    bool terminal = false;
};

// The file system under the file system object. Failures are runtime
// errors whose description names the path; a test puts in-memory files in
// its place.
class Files {
public:
    virtual ~Files() = default;

    // An existing file, positioned at its start, for reading.
    virtual OpenedFile openForReading(const QString& path) = 0;
    // A new, empty file in place of any file of that name (or an error
    // when there is one and overwrite is false), for writing.
    virtual OpenedFile create(const QString& path, bool overwrite) = 0;
    // The identity of the file the path names now, if there is one.
    virtual std::optional<FileIdentity> identify(const QString& path) = 0;
    // This process's standard input, for reading, and standard output, for
    // writing; closing the file leaves the process's own stream open.
    virtual OpenedFile standardInput() = 0;
    virtual OpenedFile standardOutput() = 0;
};

// The runtime error number for a failed write to a file of this layer: a
// full disk (or quota) is DiskFull, anything else DeviceIoError.
int writeErrorNumber(const QIODevice& device);

}  // namespace platform
