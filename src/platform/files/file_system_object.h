#pragma once

#include "platform/files/files.h"
#include "platform/files/text_stream.h"

#include <QString>

#include <vector>

namespace platform {

// I/O mode of OpenTextFile.
inline constexpr int ForReading = 1;

// The file system object of one run: it opens text files for reading and
// creates them for writing.
//
// It never creates a file over one that it has opened for reading, under
// whatever name: replacing the host list with an empty output file would
// destroy it before a line was read.
class FileSystemObject {
public:
    TextStream OpenTextFile(const QString& path, int ioMode = ForReading);
    TextStream CreateTextFile(const QString& path, bool overwrite);
    // A new text file that takes the place of the one of that name only
    // when closed (Files::createReplacement): a stream dropped unclosed
    // leaves the old file as it was.
    TextStream CreateReplacementTextFile(const QString& path);
    // The same over the process's standard input and output, which the
    // command line names "-".
    TextStream OpenStandardInput();
    TextStream CreateStandardOutput();

private:
    TextStream reading(OpenedFile file, const QString& path);
    void refuseInput(const std::optional<FileIdentity>& output, const QString& path) const;

    struct Reading {
        FileIdentity identity;
        QString path;
    };
    std::vector<Reading> reading_;
};

}  // namespace platform
