#include "platform/files/file_system_object.h"
#include "platform/runtime_error.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>

namespace platform {
namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

// Until the run closes it, the old results are what a reader finds; a run
// that gives up leaves them and nothing beside them. A link stays a link,
// written through in place.
TEST(Replacement, TakesTheOldFilesPlaceOnlyWhenClosed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("down.txt"), link = dir.filePath("link.txt");
    FileSystemObject files;
    files.CreateTextFile(path, true).WriteLine("old");
    ::chmod(QFile::encodeName(path).constData(), 0640);
    files.CreateReplacementTextFile(path).WriteLine("half a run");
    EXPECT_EQ(contents(path), "old\r\n");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"down.txt"});

    TextStream whole = files.CreateReplacementTextFile(path);
    whole.WriteLine("beta");
    EXPECT_EQ(contents(path), "old\r\n");
    whole.Close();
    EXPECT_EQ(contents(path), "beta\r\n");
    EXPECT_EQ(QFile::permissions(path), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser |
                                            QFile::ReadGroup);  // as a file emptied in place keeps them

    ASSERT_TRUE(QFile::link(path, link));
    files.CreateReplacementTextFile(link).WriteLine("through");
    EXPECT_EQ(contents(path), "through\r\n");
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}

// A write cut short by a full file system (here the file size limit, which
// needs no root) is taken back whole, so the file ends in a whole line.
TEST(Replacement, AFullDiskLeavesWholeWritesOnly)
{
    QTemporaryDir dir;
    FileSystemObject files;
    TextStream stream = files.CreateTextFile(dir.filePath("down.txt"), true);
    stream.WriteBytes("first line\r\n");
    rlimit was{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
    const auto xfsz = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = was;
    small.rlim_cur = 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(stream.WriteBytes("second line\r\n"), RuntimeError);
    ::setrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, xfsz);
    EXPECT_EQ(contents(dir.filePath("down.txt")), "first line\r\n");
}

}  // namespace
}  // namespace platform
