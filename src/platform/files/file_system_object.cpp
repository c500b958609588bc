#include "platform/files/file_system_object.h"

#include "platform/runtime_error.h"

#include <algorithm>

namespace platform {

TextStream FileSystemObject::OpenTextFile(const QString& path, int ioMode)
{
    if (ioMode != ForReading)
        throw RuntimeError(error_number::InvalidProcedureCall,
                           QStringLiteral("\"%1\" cannot be opened in I/O mode %2.").arg(path).arg(ioMode));
    OpenedFile file = use<Files>().openForReading(path);
    reading_.push_back({file.identity, path});
    return TextStream(std::move(file), path);
}

TextStream FileSystemObject::CreateTextFile(const QString& path, bool overwrite)
{
    if (const auto existing = use<Files>().identify(path)) {
        const auto input = std::find_if(reading_.begin(), reading_.end(),
                                        [&](const Reading& reading) { return reading.identity == *existing; });
        if (input != reading_.end())
            throw RuntimeError(error_number::PathFileAccessError,
                               QStringLiteral("the output file \"%1\" is the input file \"%2\"; it was left as it "
                                              "is. Name another output file.")
                                   .arg(path, input->path));
    }
    return TextStream(use<Files>().create(path, overwrite), path);
}

}  // namespace platform
