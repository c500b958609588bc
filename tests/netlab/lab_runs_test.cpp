// The two runs through the real main window, offscreen, against the hosts
// and routers of the network lab.

#include "lab_client.h"

#include "platform/forms/form.h"
#include "platform/forms/gui_application.h"
#include "runs/connect.h"
#include "support/recording_msgbox.h"
#include "ui/main_form.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using ui::mainFrm;

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(cannot be read)");
}

class LabRuns : public testing::Test {
protected:
    void SetUp() override
    {
        runs::ConnectToMainForm();
        mainFrm().txtPingtimeout->setText("200");
    }
    void TearDown() override { platform::DestroyAllForms(); }

    RecordingMessageBox messages;
};

// Every kind of verdict the lab has, blank-padded and blank lines, and
// hosts behind the first empty line that would add lines if pinged.
TEST_F(LabRuns, TheBatchRunWritesExactlyTheExpectedFile)
{
    QTemporaryDir dir;
    const QString output = dir.filePath("out.txt");
    mainFrm().txtInput->setText(QStringLiteral(QUORVEX_NETLAB_DIR "/batch_hosts.txt"));
    mainFrm().txtOutput->setText(output);
    mainFrm().cmdStart->click();
    EXPECT_TRUE(messages.shown.empty()) << messages.prompts().join('\n').toStdString();
    EXPECT_EQ(contents(output).toStdString(), contents(QStringLiteral(QUORVEX_NETLAB_DIR "/batch_expected.txt")).toStdString());
    EXPECT_EQ(mainFrm().ProgressBar1->Value(), 14.0f);
    EXPECT_EQ(mainFrm().ProgressBar1->Max(), 14.0f);
}

TEST_F(LabRuns, TheManualPingShowsTheVerdict)
{
    const struct {
        const char* host;
        const char* caption;
    } cases[] = {
        {"answering.lab", "Success! answering.lab Replied from ip: 203.0.113.10"},
        {"multihomed.lab", "Success! multihomed.lab Replied from ip: 203.0.113.11"},
        {"looping.lab", "Error! looping.lab Did not reply. Error: 11013   [ ip ttl expired transit ]"},
        {"silent.lab", "Error! silent.lab Did not reply. Error: 11010   [ ip req timed out ]"},
        {" answering.lab", "Error!  answering.lab Did not reply. Error: -1   [ inet_addr: bad IP format ]"},
    };
    for (const auto& c : cases) {
        mainFrm().txtHost->setText(c.host);
        mainFrm().cmdManPing->click();
        EXPECT_EQ(mainFrm().Label6->text().toStdString(), c.caption);
    }
}

// The same runs from the command line, with no display to be had.
TEST(LabCommandLine, GivesTheWindowsBytesAndFpingsExitStatuses)
{
    QTemporaryDir dir;
    const QString hosts = QStringLiteral(QUORVEX_NETLAB_DIR "/batch_hosts.txt");
    const QString answering = dir.filePath("answering.txt");
    const QString out = dir.filePath("out.txt");
    {
        QFile file(answering);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("answering.lab\r\n  router.lab\r\n");
    }
    const QByteArray expected = contents(QStringLiteral(QUORVEX_NETLAB_DIR "/batch_expected.txt"));
    // Answers that overtake a silent host, one host in flight many times,
    // an unknown name between addresses: every line keeps its place.
    const QString overtaking = QStringLiteral(QUORVEX_NETLAB_DIR "/parallel_hosts.txt");
    const QByteArray inPlace = contents(QStringLiteral(QUORVEX_NETLAB_DIR "/parallel_expected.txt"));
    const struct {
        QStringList arguments;
        int exitCode;
        QByteArray output;  // the output file afterwards; "kept" when untouched
        const char* stdoutText;
    } cases[] = {
        {{"-i", hosts, "-o", out, "-t", "200"}, 1, expected, ""},
        {{"-i", hosts, "-o", out, "-t", "200", "-P", "1"}, 1, expected, ""},
        {{"-i", hosts, "-o", out, "-t", "200", "-P", "4"}, 1, expected, ""},
        {{"-i", hosts, "-o", out, "-t", "200", "--parallel", "64"}, 1, expected, ""},
        {{"-i", overtaking, "-o", out, "-t", "200"}, 1, inPlace, ""},
        {{"-i", overtaking, "-o", out, "-t", "200", "-P", "2"}, 1, inPlace, ""},
        {{"-i", overtaking, "-o", out, "-t", "200", "-P", "8"}, 1, inPlace, ""},
        {{"-i", overtaking, "-o", out, "-t", "200", "-P", "1024"}, 1, inPlace, ""},
        {{"-i", hosts, "-o", out, "-P", "0"}, 2, "kept", ""},
        {{"-i", hosts, "-o", out, "-P", "1025"}, 2, "kept", ""},
        {{"--input", answering, "--output", out}, 0, "", ""},
        {{"-i", hosts, "-o", "/dev/null", "-t", "200"}, 1, "kept", ""},  // a device's size says nothing
        {{"-i", dir.filePath("missing.txt"), "-o", out}, 2, "kept", ""},
        {{"-i", hosts, "-o", out, "--timeout", "abc"}, 2, "", ""},
        {{"-i", hosts, "-o", out, "--bogus"}, 2, "kept", ""},
        {{"-i", hosts}, 2, "kept", ""},
        {{"--ping", "answering.lab"}, 0, "kept", "Success! answering.lab Replied from ip: 203.0.113.10\n"},
        {{"--ping", "silent.lab", "-t", "200"}, 1, "kept",
         "Error! silent.lab Did not reply. Error: 11010   [ ip req timed out ]\n"},
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.remove("QT_QPA_PLATFORM");
    for (const auto& c : cases) {
        const std::string command = c.arguments.join(' ').toStdString();
        QFile::remove(out);
        {
            QFile file(out);
            file.open(QIODevice::WriteOnly);
            file.write("kept");
        }
        QProcess quorvex;
        quorvex.setProcessEnvironment(environment);
        quorvex.start(QStringLiteral(QUORVEX_PROGRAM), c.arguments);
        ASSERT_TRUE(quorvex.waitForFinished(30000)) << command;
        const QByteArray errors = quorvex.readAllStandardError();
        EXPECT_EQ(quorvex.exitCode(), c.exitCode) << command << "\n" << errors.toStdString();
        EXPECT_EQ(contents(out).toStdString(), c.output.toStdString()) << command;
        EXPECT_EQ(quorvex.readAllStandardOutput().toStdString(), c.stdoutText) << command;
        // Errors are one line each, and only errors are said.
        EXPECT_EQ(errors.count('\n'), c.exitCode == 2 ? 1 : 0) << command << "\n" << errors.toStdString();
        EXPECT_TRUE(errors.isEmpty() || errors.startsWith("quorvex: ")) << errors.toStdString();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (const std::string why = netlab::whyNotInLab(); !why.empty()) {
        std::fprintf(stderr, "lab_runs_test: %s\n", why.c_str());
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::GuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
