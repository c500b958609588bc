// The command line with many echoes in flight, on lists that would show
// a line out of its place: answers that overtake a silent host, one host
// in flight many times, an unknown name between addresses.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace {

QByteArray run(const QStringList& arguments, int* exitCode = nullptr)
{
    QProcess quorvex;
    quorvex.start(QStringLiteral(QUORVEX_PROGRAM), arguments);
    quorvex.waitForFinished(60000);
    if (exitCode)
        *exitCode = quorvex.exitCode();
    QFile file(arguments[arguments.indexOf("-o") + 1]);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(no output file)");
}

QString write(const QTemporaryDir& dir, const QByteArray& hosts)
{
    QFile file(dir.filePath("hosts.txt"));
    file.open(QIODevice::WriteOnly);
    file.write(hosts);
    return file.fileName();
}

TEST(LabParallel, LinesKeepTheSerialRunsOrderWhateverAnswersFirst)
{
    QTemporaryDir dir;
    const QString hosts = write(dir, "silent.lab\r\n" + QByteArray("answering.lab\r\n").repeated(5) +
                                         QByteArray("unreachable.lab\r\n").repeated(6) +
                                         "port-rejected.lab\r\nnowhere.lab\r\n203.0.113.10\r\nlooping.lab\r\n"
                                         "silent.lab\r\n203.0.113.11\r\nprotocol-rejected.lab\r\n");
    const QString out = dir.filePath("out.txt");
    const QByteArray serial = run({"-i", hosts, "-o", out, "-t", "200"});
    EXPECT_EQ(serial, "silent.lab - 11010   [ ip req timed out ]\r\n" +
                          QByteArray("unreachable.lab - 11003   [ ip dest host unreachable ]\r\n").repeated(6) +
                          "port-rejected.lab - 11005   [ ip dest port unreachable ]\r\n"
                          "nowhere.lab - -1   [ inet_addr: bad IP format ]\r\n"
                          "looping.lab - 11013   [ ip ttl expired transit ]\r\n"
                          "silent.lab - 11010   [ ip req timed out ]\r\n"
                          "protocol-rejected.lab - 11004   [ ip dest prot unreachable ]\r\n");
    for (const char* parallel : {"2", "8", "1024"}) {
        int exitCode = -1;
        EXPECT_EQ(run({"-i", hosts, "-o", out, "-t", "200", "-P", parallel}, &exitCode).toStdString(),
                  serial.toStdString())
            << "-P " << parallel;
        EXPECT_EQ(exitCode, 1) << "-P " << parallel;
    }
}

// Ctrl+C in the middle of a run: each line reaches the file whole, and only
// lines of hosts whose turn it was.
TEST(LabParallel, AnInterruptedRunLeavesAPrefixOfTheSerialRunsLines)
{
    QTemporaryDir dir;
    const QByteArray pair = "silent.lab\r\nunreachable.lab\r\n";
    const QString out = dir.filePath("out.txt");
    const QByteArray lines = QByteArray("silent.lab - 11010   [ ip req timed out ]\r\n"
                                        "unreachable.lab - 11003   [ ip dest host unreachable ]\r\n")
                                 .repeated(40);
    // As a terminal's Ctrl+C finds it, even when this test was started where
    // an interrupt is ignored.
    std::signal(SIGINT, SIG_DFL);
    QProcess quorvex;
    quorvex.start(QStringLiteral(QUORVEX_PROGRAM),
                  {"-i", write(dir, pair.repeated(40)), "-o", out, "-t", "300", "-P", "4"});
    QFile file(out);
    for (int i = 0; i < 3000 && file.size() < 80; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::kill(static_cast<pid_t>(quorvex.processId()), SIGINT);
    ASSERT_TRUE(quorvex.waitForFinished(30000));
    EXPECT_EQ(quorvex.exitStatus(), QProcess::CrashExit);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    EXPECT_TRUE(lines.startsWith(written) && written.endsWith("\r\n")) << written.toStdString();
    EXPECT_GT(written.size(), 0);
    EXPECT_LT(written.size(), lines.size());
}

}  // namespace
