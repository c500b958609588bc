// Ctrl+C in the middle of a run with echoes in flight that keeps what it
// wrote: each line reaches the file whole, and only lines of hosts whose
// turn it was.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

TEST(LabParallel, AnInterruptedRunLeavesAPrefixOfTheSerialRunsLines)
{
    QTemporaryDir dir;
    QFile hosts(dir.filePath("hosts.txt"));
    ASSERT_TRUE(hosts.open(QIODevice::WriteOnly));
    hosts.write(QByteArray("silent.lab\r\nunreachable.lab\r\n").repeated(40));
    hosts.close();
    const QByteArray lines = QByteArray(
                                 "silent.lab - 11010   [ ip req timed out ]\r\n"
                                 "unreachable.lab - 11003   [ ip dest host unreachable ]\r\n")
                                 .repeated(40);
    // As a terminal's Ctrl+C finds it, even where this test ignores it.
    std::signal(SIGINT, SIG_DFL);
    QProcess quorvex;
    QFile out(dir.filePath("out.txt"));
    quorvex.start(QStringLiteral(QUORVEX_PROGRAM),
                  {"-i", hosts.fileName(), "-o", out.fileName(), "-t", "300", "-P", "4", "--keep-partial"});
    for (int i = 0; i < 3000 && out.size() < 80; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(static_cast<pid_t>(quorvex.processId()), SIGINT);
    ASSERT_TRUE(quorvex.waitForFinished(30000));
    EXPECT_EQ(quorvex.exitStatus(), QProcess::CrashExit);
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray written = out.readAll();
    EXPECT_TRUE(lines.startsWith(written) && written.endsWith("\r\n")) << written.toStdString();
    EXPECT_GT(written.size(), 0);
    EXPECT_LT(written.size(), lines.size());
}
