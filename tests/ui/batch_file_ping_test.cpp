#include "support/fake_network.h"
#include "support/memory_files.h"
#include "support/recording_msgbox.h"
#include "ui/run_handlers.h"
#include "ui/ui_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using ui::mainFrm;

const char* const kTimedOut = " - 11010   [ ip req timed out ]\r\n";

class BatchTest : public UiTest {
protected:
    void SetUp() override
    {
        ui::ConnectRunsToMainForm();
        network.hosts["alpha"] = {{192, 0, 2, 1}};
        network.hosts["beta"] = {{192, 0, 2, 2}};
        network.hosts["\tbeta"] = {{192, 0, 2, 2}};
        network.statusOf["192.0.2.2"] = 11010;
        mainFrm().txtInput->setText("in.txt");
        mainFrm().txtOutput->setText("out.txt");
    }

    // Presses Start; the message boxes that the run showed.
    QStringList start(const QByteArray& input)
    {
        files.files["in.txt"] = input;
        mainFrm().cmdStart->click();
        return messages.prompts();
    }

    float progress() const { return mainFrm().ProgressBar1->Value(); }

    FakeNetwork network;
    MemoryFiles files;
    RecordingMessageBox messages;
};

TEST_F(BatchTest, PingsEveryHostUpToTheFirstEmptyLineAndListsTheSilentOnes)
{
    const QByteArray longest(65536, 'x');
    const struct {
        QByteArray input;
        std::vector<std::string> lookups;
        QByteArray output;
    } cases[] = {
        {"", {}, ""},
        {"\r\nalpha\r\n", {}, ""},
        {"alpha\r\n\r\nbeta\r\n", {"alpha"}, ""},
        {"alpha\r\rbeta\r", {"alpha"}, ""},
        {"alpha\n\nbeta\n", {"alpha"}, ""},
        {longest + "\r\n", {longest.toStdString()}, longest + " - -1   [ inet_addr: bad IP format ]\r\n"},
        {"beta\r\nalpha", {"beta", "alpha"}, QByteArray("beta") + kTimedOut},
        {"beta\nbeta\rbeta\r\n",
         {"beta", "beta", "beta"},
         QByteArray("beta") + kTimedOut + "beta" + kTimedOut + "beta" + kTimedOut},
        {"  beta  \r\n\tbeta \r\n", {"beta", "\tbeta"}, QByteArray("beta") + kTimedOut + "\tbeta" + kTimedOut},
        {"   \r\nnowhere\r\n",
         {"", "nowhere"},
         " - -1   [ inet_addr: bad IP format ]\r\nnowhere - -1   [ inet_addr: bad IP format ]\r\n"},
    };
    for (const auto& c : cases) {
        network.lookups.clear();
        files.files["out.txt"] = "left from the last run";
        const std::string input = c.input.left(40).toStdString();
        EXPECT_TRUE(start(c.input).isEmpty()) << input;
        EXPECT_EQ(network.lookups, c.lookups) << input;
        EXPECT_EQ(files.files["out.txt"], c.output) << input;
        EXPECT_EQ(mainFrm().ProgressBar1->Max(), static_cast<float>(c.lookups.size())) << input;
        EXPECT_EQ(progress(), static_cast<float>(c.lookups.size())) << input;
        EXPECT_EQ(mainFrm().StatusBar->SimpleText(), "Running ping sequence...");
    }
}

TEST_F(BatchTest, ErrorsEndTheRunAtTheirStepWithoutAnEcho)
{
    const struct {
        QByteArray input;
        const char* timeout;
        bool outputReplaced;
        QString report;
    } cases[] = {
        {{}, "500", false, "File not found: no file \"in.txt\""},
        {QByteArray("alpha\r\n").repeated(32768), "500", true,
         "Overflow: \"in.txt\" lists more than 32767 hosts before its first empty line."},
        {QByteArray(70000, 'x'), "500", true,
         "Path/File access error: line 1 of \"in.txt\" is longer than 65536 "
         "characters: the file is not a list of hosts."},
        {"alpha\r\n", "", true, "Type mismatch: the ping timeout \"\" is not a whole number."},
        {"alpha\r\n", "2147483648", true, "Overflow: the ping timeout \"2147483648\" lies outside 0 to 2147483647."},
        {"alpha\r\n", "-1", true, "Overflow: the ping timeout \"-1\" lies outside 0 to 2147483647."},
    };
    for (const auto& c : cases) {
        files.files.clear();
        messages.shown.clear();
        files.files["out.txt"] = "kept";
        mainFrm().txtPingtimeout->setText(c.timeout);
        if (c.input.isEmpty())
            mainFrm().cmdStart->click();
        else
            start(c.input);
        EXPECT_EQ(messages.prompts(), QStringList{c.report});
        EXPECT_EQ(files.files["out.txt"], c.outputReplaced ? "" : "kept") << c.report.toStdString();
    }
    EXPECT_TRUE(network.echoes.empty());
    EXPECT_EQ(mainFrm().StatusBar->SimpleText(), "Running ping sequence...");
}

// Whatever happens to the list between the passes, no host is pinged that
// was not counted, and the progress never passes its maximum. A pipe is
// read once.
TEST_F(BatchTest, AListChangedBetweenThePassesNeverGetsAnUncountedHostPinged)
{
    const QString changed =
        "Path/File access error: \"in.txt\" was changed while the run read it: line %1 is not "
        "the line that was counted.";
    const struct {
        QByteArray later;
        bool pipe;
        std::vector<std::string> lookups;
        QString report;
    } cases[] = {
        {"alpha\r\nbeta\r\nbeta\r\n", false, {"alpha", "beta"}, ""},
        {"beta\r\nalpha\r\nbeta\r\n", false, {}, changed.arg(1)},
        {"alpha\r\n", false, {"alpha"}, changed.arg(2)},
        {"alpha\r\nalpha\r\n", false, {"alpha"}, changed.arg(2)},
        {"", true, {"alpha", "beta"}, ""},
    };
    for (const auto& c : cases) {
        network.lookups.clear();
        messages.shown.clear();
        files.pipes.clear();
        if (c.pipe)
            files.pipes.insert("in.txt");
        int openings = 0;
        files.beforeOpen = [&](const QString& path) {
            if (openings++ == 1)
                files.files[path] = c.later;
        };
        EXPECT_EQ(start("alpha\r\nbeta\r\n"), c.report.isEmpty() ? QStringList() : QStringList{c.report})
            << c.later.data();
        EXPECT_EQ(network.lookups, c.lookups) << c.later.data();
        EXPECT_EQ(progress(), static_cast<float>(c.lookups.size())) << c.later.data();
        EXPECT_EQ(mainFrm().ProgressBar1->Max(), 2.0f);
    }
}

TEST_F(BatchTest, ThirtyTwoThousandSevenHundredSixtySevenHostsAreAllPinged)
{
    start(QByteArray("beta\r\n").repeated(32767));
    EXPECT_EQ(network.echoes.size(), 32767u);
    EXPECT_EQ(progress(), 32767.0f);
    EXPECT_EQ(files.files["out.txt"].count('\n'), 32767);
}

TEST_F(BatchTest, WithoutWindowsSocketsEveryLineGetsAMessageAndNothingElse)
{
    network.startupResult = 10091;
    EXPECT_EQ(start("alpha\r\nbeta\r\n"),
              QStringList(2, "Windows Sockets for 32 bit Windows is not successfully responding."));
    EXPECT_EQ(files.files["out.txt"], "");
    EXPECT_EQ(progress(), 0.0f);
    EXPECT_EQ(mainFrm().ProgressBar1->Max(), 2.0f);
    EXPECT_EQ(std::count(network.calls.begin(), network.calls.end(), "WSACleanup"), 0);
}

// Real files: the output never replaces the input under any of its names,
// and each line reaches the disk before the next host is pinged.
TEST_F(BatchTest, RealFilesKeepTheInputAndEveryLineWritten)
{
    platform::ScopedFake<platform::Files> realFiles(platform::realImplementation<platform::Files>());
    QTemporaryDir dir;
    const QString input = dir.filePath("hosts.txt");
    const QByteArray hosts =
        "beta\r\nbeta\r\nn\xe9"
        "ant\xff\r\n";
    QFile file(input);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(hosts) == hosts.size());
    file.close();
    ASSERT_TRUE(QFile::link(input, dir.filePath("symlink.txt")));
    ASSERT_EQ(::link(QFile::encodeName(input).constData(), QFile::encodeName(dir.filePath("hardlink.txt")).constData()),
              0);
    QDir(dir.path()).mkdir("sub");

    mainFrm().txtInput->setText(input);
    for (const QString& output : {input, dir.filePath("sub/../hosts.txt"), dir.filePath("symlink.txt"),
                                  dir.filePath("hardlink.txt"), dir.path() + "//./hosts.txt"}) {
        mainFrm().txtOutput->setText(output);
        mainFrm().cmdStart->click();
    }
    EXPECT_EQ(messages.shown.size(), 5u);
    for (const auto& shown : messages.shown)
        EXPECT_TRUE(shown.prompt.contains("is the input file")) << shown.prompt.toStdString();
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), hosts);
    file.close();
    EXPECT_TRUE(network.echoes.empty());

    const QString output = dir.filePath("out.txt");
    QList<QByteArray> seenBeforeEcho;
    network.beforeEcho = [&] {
        QFile written(output);
        written.open(QIODevice::ReadOnly);
        seenBeforeEcho << written.readAll();
    };
    mainFrm().txtOutput->setText(output);
    mainFrm().cmdStart->click();
    EXPECT_EQ(seenBeforeEcho, (QList<QByteArray>{"", QByteArray("beta") + kTimedOut}));
    QFile written(output);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("beta") + kTimedOut + "beta" + kTimedOut +
                                     "n\xe9"
                                     "ant\xff - -1   [ inet_addr: bad IP format ]\r\n");
    EXPECT_EQ(network.lookups.back(),
              "n\xe9"
              "ant\xff");

    // A file without line breaks is not read into memory whole; the output
    // has been replaced by then. Paths that cannot be opened are named.
    const struct {
        QString input;
        QString report;
    } failures[] = {
        {"/dev/zero",
         "Path/File access error: line 1 of \"/dev/zero\" is longer than 65536 characters: the "
         "file is not a list of hosts."},
        {"", "Bad file name or number: no file name was given; a file cannot be opened for reading."},
        {dir.filePath("none.txt"), "File not found: \"" + dir.filePath("none.txt") +
                                       "\" cannot be opened for "
                                       "reading: there is no such file."},
        {dir.filePath("no/hosts.txt"), "Path not found: \"" + dir.filePath("no/hosts.txt") +
                                           "\" cannot be opened "
                                           "for reading: its folder does not exist."},
        {dir.filePath("sub"), "Path/File access error: \"" + dir.filePath("sub") +
                                  "\" cannot be opened for "
                                  "reading: it is a folder, not a file."},
    };
    for (const auto& failure : failures) {
        messages.shown.clear();
        mainFrm().txtInput->setText(failure.input);
        mainFrm().cmdStart->click();
        EXPECT_EQ(messages.prompts(), QStringList{failure.report});
    }
    EXPECT_EQ(QFileInfo(output).size(), 0) << "replaced by the /dev/zero run";

    messages.shown.clear();
    mainFrm().txtInput->setText(input);
    mainFrm().txtOutput->setText("/dev/full");
    mainFrm().cmdStart->click();
    EXPECT_EQ(messages.prompts(), QStringList{"Disk full: \"/dev/full\" cannot be written: No space left on device."});

    // A FIFO gives its hosts once; opened again, it would wait for a writer
    // that has gone, and the window would freeze. Should that happen, the
    // writer comes back after five seconds with nothing to say.
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    std::atomic<bool> runEnded = false;
    std::thread writer([&] {
        QFile end(fifo);
        if (end.open(QIODevice::WriteOnly))
            end.write("beta\r\nalpha\r\n");
        end.close();
        for (int i = 0; i < 50 && !runEnded; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (const int fd = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK); fd >= 0)
            ::close(fd);
    });
    network.lookups.clear();
    messages.shown.clear();
    mainFrm().txtInput->setText(fifo);
    mainFrm().txtOutput->setText(output);
    mainFrm().cmdStart->click();
    runEnded = true;
    writer.join();
    EXPECT_TRUE(messages.shown.empty()) << messages.prompts().join('\n').toStdString();
    EXPECT_EQ(network.lookups, (std::vector<std::string>{"beta", "alpha"}));
    QFile fromFifo(output);
    ASSERT_TRUE(fromFifo.open(QIODevice::ReadOnly));
    EXPECT_EQ(fromFifo.readAll(), QByteArray("beta") + kTimedOut);
}

}  // namespace
