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

// A file written beside the one it is to replace, which takes that one's
// place only when committed: dropped uncommitted, it is removed and the old
// file stays as it was.
class Replacement {
public:
    virtual ~Replacement() = default;
    virtual void commit() = 0;
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
    // When written in place of another file: committed once the device is
    // closed.
    std::unique_ptr<Replacement> replacement = {};
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
    // A new, empty file that takes the place of the regular file of that
    // name (if there is one) only when its replacement is committed. Where
    // no file can be put in its place (a link, a FIFO, a device, or a
    // folder it may not write in), the file itself, emptied, as create().
    virtual OpenedFile createReplacement(const QString& path) { return create(path, true); }
    // The identity of the file the path names now, if there is one.
    virtual std::optional<FileIdentity> identify(const QString& path) = 0;
    // This process's standard input, for reading, and standard output, for
    // writing; closing the file leaves the process's own stream open.
    virtual OpenedFile standardInput() = 0;
    virtual OpenedFile standardOutput() = 0;
};

// Removes every replacement not yet committed, for a signal that ends the
// process before its run does; how many there were. The old files stay.
int DropReplacementsNow();
// How many replacements were dropped uncommitted, by the signal or because
// the file was given up (a failed run).
int ReplacementsDropped();

// The runtime error number for a failed write to a file of this layer: a
// full disk (or quota) is DiskFull, anything else DeviceIoError.
int writeErrorNumber(const QIODevice& device);

}  // namespace platform
