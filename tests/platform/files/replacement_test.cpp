#include "platform/files/file_system_object.h"
#include "platform/files/files.h"
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

class Replacement : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("old\r\n");
        old.close();
        ::chmod(QFile::encodeName(path).constData(), 0640);
    }

    QStringList names() const
    {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    QTemporaryDir dir;
    QString path = dir.filePath("down.txt");
    FileSystemObject files;
};

// Until the run closes it, the old results are what a reader finds; a run
// that gives up leaves them and nothing beside them.
TEST_F(Replacement, TakesTheOldFilesPlaceOnlyWhenClosed)
{
    {
        TextStream dropped = files.CreateReplacementTextFile(path);
        dropped.WriteLine("half a run");
        EXPECT_EQ(contents(path), "old\r\n");
    }
    EXPECT_EQ(contents(path), "old\r\n");
    EXPECT_EQ(names(), QStringList{"down.txt"});

    TextStream whole = files.CreateReplacementTextFile(path);
    whole.WriteLine("beta - 11010   [ ip req timed out ]");
    whole.Close();
    EXPECT_EQ(contents(path), "beta - 11010   [ ip req timed out ]\r\n");
    EXPECT_EQ(names(), QStringList{"down.txt"});
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);  // as a file emptied in place keeps it
}

// A link stays a link: what it names is written, in place.
TEST_F(Replacement, WritesThroughALinkInPlace)
{
    const QString link = dir.filePath("link.txt");
    ASSERT_TRUE(QFile::link(path, link));
    TextStream stream = files.CreateReplacementTextFile(link);
    stream.WriteLine("new");
    EXPECT_EQ(contents(path), "new\r\n");
    stream.Close();
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), path);
    EXPECT_EQ(contents(path), "new\r\n");
}

// A write cut short by a full file system (here the file size limit, which
// needs no root) is taken back whole, so the file ends in a whole line.
TEST_F(Replacement, AFullDiskLeavesWholeWritesOnly)
{
    rlimit was{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
    const auto xfsz = std::signal(SIGXFSZ, SIG_IGN);
    TextStream stream = files.CreateTextFile(path, true);
    stream.WriteBytes("first line\r\n");
    rlimit small = was;
    small.rlim_cur = 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(stream.WriteBytes("second line\r\n"), RuntimeError);
    ::setrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, xfsz);
    EXPECT_EQ(contents(path), "first line\r\n");
}

}  // namespace
}  // namespace platform
