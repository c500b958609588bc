#include "platform/files/files.h"

#include "platform/files/file_name.h"
#include "platform/runtime_error.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

FileIdentity identityOf(const struct stat& status)
{
    return {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

// A file descriptor as a device, unbuffered: every line written reaches
// the file system at once, and the reason of a failure is kept, so that a
// full disk is told apart from other failures.
class DescriptorDevice final : public QIODevice {
public:
    DescriptorDevice(int fd, bool sequential) : fd_(fd), sequential_(sequential) {}
    ~DescriptorDevice() override
    {
        close();
        ::close(fd_);
    }

    bool isSequential() const override { return sequential_; }
    int lastError() const { return lastError_; }

protected:
    qint64 readData(char* data, qint64 size) override
    {
        for (;;) {
            const ssize_t got = ::read(fd_, data, static_cast<size_t>(size));
            if (got >= 0)
                return got;
            if (errno != EINTR)
                return failed(errno);
        }
    }

    qint64 writeData(const char* data, qint64 size) override
    {
        qint64 written = 0;
        while (written < size) {
            const ssize_t put = ::write(fd_, data + written, static_cast<size_t>(size - written));
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0) {
                const int error = put < 0 ? errno : EIO;
                // A file that ends in half of what was written reads as
                // whole to the next program: take the half back, so that
                // a full disk leaves whole lines.
                if (written > 0 && !sequential_) {
                    const off_t end = ::lseek(fd_, 0, SEEK_CUR);
                    if (end >= written && ::ftruncate(fd_, end - written) == 0)
                        ::lseek(fd_, end - written, SEEK_SET);
                }
                return failed(error);
            }
            written += put;
        }
        return written;
    }

private:
    qint64 failed(int error)
    {
        lastError_ = error;
        setErrorString(QString::fromLocal8Bit(std::strerror(error)));
        return -1;
    }

    int fd_;
    bool sequential_;
    int lastError_ = 0;
};

bool folderExists(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
    struct stat status {};
    return ::stat(folder.constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The runtime error for a failed open, in the operator's words.
RuntimeError openError(int error, const QString& path, const char* purpose)
{
    const QString subject = QStringLiteral("\"%1\" cannot be %2: ").arg(path, QLatin1StringView(purpose));
    switch (error) {
    case ENOENT:
        if (!folderExists(encodeFileName(path)))
            return RuntimeError(error_number::PathNotFound, subject + QStringLiteral("its folder does not exist."));
        return RuntimeError(error_number::FileNotFound, subject + QStringLiteral("there is no such file."));
    case ENOTDIR:
        return RuntimeError(error_number::PathNotFound, subject + QStringLiteral("part of its folder is not a folder."));
    case EACCES:
    case EPERM:
    case EROFS: return RuntimeError(error_number::PermissionDenied, subject + QStringLiteral("access is denied."));
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

// Takes the descriptor over, whatever happens.
OpenedFile wrap(int fd, const QString& path, const char* purpose, QIODevice::OpenMode mode)
{
    struct stat status {};
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        ::close(fd);
        throw openError(EISDIR, path, purpose);
    }
    const bool regular = S_ISREG(status.st_mode);
    auto device = std::make_unique<DescriptorDevice>(fd, !regular);
    device->open(mode | QIODevice::Unbuffered);
    const bool terminal = S_ISCHR(status.st_mode) && ::isatty(fd) == 1;
    return {std::move(device), identityOf(status), regular, terminal};
}

OpenedFile open(const QString& path, int flags, const char* purpose, QIODevice::OpenMode mode)
{
    if (path.isEmpty())
        throw RuntimeError(error_number::BadFileName,
                           QStringLiteral("no file name was given; a file cannot be %1.").arg(QLatin1StringView(purpose)));
    const int fd = ::open(encodeFileName(path).constData(), flags | O_CLOEXEC, 0666);
    if (fd < 0)
        throw openError(errno, path, purpose);
    return wrap(fd, path, purpose, mode);
}

// A descriptor of our own on the process's stream, so that closing the
// file leaves the stream to the rest of the process.
OpenedFile standardStream(int fd, const QString& name, const char* purpose, QIODevice::OpenMode mode)
{
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0)
        throw openError(errno, name, purpose);
    OpenedFile file = wrap(copy, name, purpose, mode);
    // Read once only: the stream's position is the process's, not ours.
    file.rereadable = false;
    return file;
}

// The replacements not yet committed, which a signal that ends the process
// removes; under one lock, so that a file is committed or removed, never
// both.
struct Pending {
    std::mutex mutex;
    std::vector<class LinuxReplacement*> open;
    int dropped = 0;
};

Pending& pending()
{
    static Pending all;
    return all;
}

class LinuxReplacement final : public Replacement {
public:
    LinuxReplacement(QByteArray temporary, QByteArray target, QString path)
        : temporary_(std::move(temporary)), target_(std::move(target)), path_(std::move(path))
    {
        const std::lock_guard lock(pending().mutex);
        pending().open.push_back(this);
    }

    ~LinuxReplacement() override
    {
        const std::lock_guard lock(pending().mutex);
        std::erase(pending().open, this);
        if (!settled_)
            dropLocked();
    }

    void commit() override
    {
        const std::lock_guard lock(pending().mutex);
        if (settled_)
            return;  // removed by a signal that is ending the process
        if (::rename(temporary_.constData(), target_.constData()) != 0) {
            const int error = errno;
            dropLocked();
            throw RuntimeError(error_number::PathFileAccessError,
                               QStringLiteral("\"%1\" cannot be replaced: %2.")
                                   .arg(path_, QString::fromLocal8Bit(std::strerror(error))));
        }
        settled_ = true;
    }

    void dropLocked()
    {
        ::unlink(temporary_.constData());
        settled_ = true;
        ++pending().dropped;
    }

    bool settled() const { return settled_; }

private:
    QByteArray temporary_;
    QByteArray target_;
    QString path_;
    bool settled_ = false;
};

// Beside the target, hidden, and named so that its owner can tell whose it
// is should the machine stop before it is renamed or removed.
QByteArray temporaryNameBeside(const QByteArray& target)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = target.left(slash + 1);
    // Within NAME_MAX, however long the target's own name.
    const QByteArray name = target.mid(slash + 1).left(200);
    return folder + '.' + name + ".quorvex-" + QByteArray::number(QRandomGenerator::system()->generate(), 16);
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

    OpenedFile createReplacement(const QString& path) override
    {
        const QByteArray target = encodeFileName(path);
        struct stat status {};
        const bool exists = ::lstat(target.constData(), &status) == 0;
        // What is no plain file of its own is written where it is: a link
        // would be replaced by a file, a FIFO or a device makes no sense
        // as one, a hard link would lose its other names. A file we may
        // not write stays refused, as it would be in place.
        const bool replaceable = exists ? S_ISREG(status.st_mode) && status.st_nlink == 1 &&
                                              ::access(target.constData(), W_OK) == 0
                                        : errno == ENOENT;
        if (path.isEmpty() || !replaceable)
            return create(path, true);
        for (int attempt = 0; attempt < 8; ++attempt) {
            const QByteArray temporary = temporaryNameBeside(target);
            const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno == EEXIST)
                continue;
            if (fd < 0)
                break;  // a folder we may not write in: in place, as before
            auto replacement = std::make_unique<LinuxReplacement>(temporary, target, path);
            if (exists) {
                // As the file emptied in place would have kept them.
                // An owner that only root may give stays ours.
                if (::fchmod(fd, status.st_mode & 07777) != 0 ||
                    (::geteuid() == 0 && ::fchown(fd, status.st_uid, status.st_gid) != 0)) {
                }
            }
            OpenedFile file = wrap(fd, path, "created", QIODevice::WriteOnly);
            file.replacement = std::move(replacement);
            return file;
        }
        return create(path, true);
    }

    std::optional<FileIdentity> identify(const QString& path) override
    {
        struct stat status {};
        if (path.isEmpty() || ::stat(encodeFileName(path).constData(), &status) != 0)
            return std::nullopt;
        return identityOf(status);
    }

    OpenedFile standardInput() override
    {
        return standardStream(STDIN_FILENO, QStringLiteral("standard input"), "read", QIODevice::ReadOnly);
    }

    OpenedFile standardOutput() override
    {
        return standardStream(STDOUT_FILENO, QStringLiteral("standard output"), "written", QIODevice::WriteOnly);
    }
};

}  // namespace

int DropReplacementsNow()
{
    const std::lock_guard lock(pending().mutex);
    int dropped = 0;
    for (LinuxReplacement* replacement : pending().open)
        if (!replacement->settled()) {
            replacement->dropLocked();
            ++dropped;
        }
    return dropped;
}

int ReplacementsDropped()
{
    const std::lock_guard lock(pending().mutex);
    return pending().dropped;
}

int writeErrorNumber(const QIODevice& device)
{
    const auto* file = dynamic_cast<const DescriptorDevice*>(&device);
    const bool full = file && (file->lastError() == ENOSPC || file->lastError() == EDQUOT);
    return full ? error_number::DiskFull : error_number::DeviceIoError;
}

template <>
Files& realImplementation<Files>()
{
    static LinuxFiles files;
    return files;
}

}  // namespace platform
