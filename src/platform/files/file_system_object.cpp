#include "platform/files/file_system_object.h"

#include "platform/runtime_error.h"

#include <algorithm>

namespace platform {

TextStream FileSystemObject::OpenTextFile(const QString& path, int ioMode)
{
    if (ioMode != ForReading)
        throw RuntimeError(error_number::InvalidProcedureCall,
                           QStringLiteral("\"%1\" cannot be opened in I/O mode %2.").arg(path).arg(ioMode));
    return reading(use<Files>().openForReading(path), path);
}

TextStream FileSystemObject::OpenStandardInput()
{
    return reading(use<Files>().standardInput(), QStringLiteral("standard input"));
}

TextStream FileSystemObject::CreateTextFile(const QString& path, bool overwrite)
{
    // Before the file is created, which would empty it.
    refuseInput(use<Files>().identify(path), path);
    return TextStream(use<Files>().create(path, overwrite), path);
}

TextStream FileSystemObject::CreateReplacementTextFile(const QString& path)
{
    refuseInput(use<Files>().identify(path), path);
    return TextStream(use<Files>().createReplacement(path), path);
}

TextStream FileSystemObject::CreateStandardOutput()
{
    // Not checked against the input: nothing empties it, and a terminal is
    // both standard input and output of an interactive run.
    return TextStream(use<Files>().standardOutput(), QStringLiteral("standard output"));
}

TextStream FileSystemObject::reading(OpenedFile file, const QString& path)
{
    reading_.push_back({file.identity, path});
    return TextStream(std::move(file), path);
}

void FileSystemObject::refuseInput(const std::optional<FileIdentity>& output, const QString& path) const
{
    if (output) {
        const auto input = std::find_if(reading_.begin(), reading_.end(),
                                        [&](const Reading& reading) { return reading.identity == *output; });
        if (input != reading_.end())
            throw RuntimeError(error_number::PathFileAccessError,
                               QStringLiteral("the output file \"%1\" is the input file \"%2\"; it was left as it "
                                              "is. Name another output file.")
                                   .arg(path, input->path));
    }
}

}  // namespace platform
