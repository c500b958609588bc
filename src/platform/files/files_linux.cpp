#include "platform/files/files.h"

#include "platform/runtime_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

FileIdentity identityOf(const struct stat& status)
{
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// The runtime error for a failed open, in the operator's words.
RuntimeError openError(int error, const QString& path, const char* purpose)
{
    const QString subject = QStringLiteral("\"%1\" cannot be %2: ").arg(path, QLatin1StringView(purpose));
    switch (error) {
    case ENOENT:
        if (!QFileInfo(path).absoluteDir().exists())
            return RuntimeError(error_number::PathNotFound, subject + QStringLiteral("its folder does not exist."));
        return RuntimeError(error_number::FileNotFound, subject + QStringLiteral("there is no such file."));
    case ENOTDIR:
        return RuntimeError(error_number::PathNotFound, subject + QStringLiteral("part of its folder is not a folder."));
    case EACCES:
    case EPERM:
    case EROFS:
        return RuntimeError(error_number::PermissionDenied, subject + QStringLiteral("access is denied."));
    case EISDIR:
        return RuntimeError(error_number::PathFileAccessError, subject + QStringLiteral("it is a folder, not a file."));
    case EEXIST:
        return RuntimeError(error_number::FileAlreadyExists, subject + QStringLiteral("the file exists already."));
    case ENAMETOOLONG:
        return RuntimeError(error_number::BadFileName, subject + QStringLiteral("the name is too long."));
    default:
        return RuntimeError(error_number::PathFileAccessError,
                            subject + QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char('.'));
    }
}

OpenedFile open(const QString& path, int flags, const char* purpose, QIODevice::OpenMode mode)
{
    if (path.isEmpty())
        throw RuntimeError(error_number::BadFileName,
                           QStringLiteral("no file name was given; a file cannot be %1.").arg(QLatin1StringView(purpose)));
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0666);
    if (fd < 0)
        throw openError(errno, path, purpose);
    struct stat status {};
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        ::close(fd);
        throw openError(EISDIR, path, purpose);
    }
    auto file = std::make_unique<QFile>();
    // Unbuffered: every line written reaches the file system at once.
    if (!file->open(fd, mode | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw openError(EIO, path, purpose);
    }
    return {std::move(file), identityOf(status)};
}

class LinuxFiles final : public Files {
public:
    OpenedFile openForReading(const QString& path) override
    {
        return open(path, O_RDONLY, "opened for reading", QIODevice::ReadOnly);
    }

    OpenedFile create(const QString& path, bool overwrite) override
    {
        return open(path, O_WRONLY | O_CREAT | O_TRUNC | (overwrite ? 0 : O_EXCL), "created", QIODevice::WriteOnly);
    }

    std::optional<FileIdentity> identify(const QString& path) override
    {
        struct stat status {};
        if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &status) != 0)
            return std::nullopt;
        return identityOf(status);
    }
};

}  // namespace

template <>
Files& realImplementation<Files>()
{
    static LinuxFiles files;
    return files;
}

}  // namespace platform
