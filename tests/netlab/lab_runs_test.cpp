// The two runs through the real main window, offscreen, against the hosts
// and routers of the network lab.

#include "lab_client.h"

#include "platform/forms/form.h"
#include "platform/forms/gui_application.h"
#include "support/recording_msgbox.h"
#include "ui/main_form.h"
#include "ui/run_handlers.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
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
        ui::ConnectRunsToMainForm();
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
    EXPECT_EQ(contents(output).toStdString(),
              contents(QStringLiteral(QUORVEX_NETLAB_DIR "/batch_expected.txt")).toStdString());
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

// The command line's runs are bash command lines: $Q is the program and
// $D a folder of the run's own, with hosts.txt (the lab's list), mixed.txt
// (IPv6 addresses of every verdict the lab has, among IPv4 hosts),
// overtaking.txt (answers that overtake silent hosts, one host many times
// in flight, an unknown name between addresses), answering.txt, cut.txt (a
// silent host between two that answer) and out.txt, which holds "kept"
// before each row. No display is to be had.
struct CommandLineRun {
    int exitCode = -1;
    QByteArray output;  // out.txt afterwards
    QByteArray stdoutText;
    QByteArray stderrText;
};

class LabCommandLine : public testing::Test {
protected:
    void SetUp() override
    {
        QFile::copy(QStringLiteral(QUORVEX_NETLAB_DIR "/batch_hosts.txt"), dir.filePath("hosts.txt"));
        QFile::copy(QStringLiteral(QUORVEX_NETLAB_DIR "/parallel_hosts.txt"), dir.filePath("overtaking.txt"));
        QFile::copy(QStringLiteral(QUORVEX_NETLAB_DIR "/mixed_hosts.txt"), dir.filePath("mixed.txt"));
        write("answering.txt", "answering.lab\r\n  router.lab\r\n");
        write("cut.txt", "answering.lab\nsilent.lab\nanswering.lab\n");
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        environment.insert("Q", QStringLiteral(QUORVEX_PROGRAM));
        environment.insert("D", dir.path());
    }

    void write(const QString& name, const QByteArray& bytes)
    {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    }

    CommandLineRun run(const QString& command)
    {
        write("out.txt", "kept");
        QProcess bash;
        bash.setProcessEnvironment(environment);
        bash.start(QStringLiteral("bash"), {QStringLiteral("-c"), command});
        bash.closeWriteChannel();
        CommandLineRun result;
        if (!bash.waitForFinished(30000)) {
            bash.kill();
            bash.waitForFinished();
            return result;
        }
        result.exitCode = bash.exitStatus() == QProcess::NormalExit ? bash.exitCode() : 128 + bash.exitCode();
        result.output = contents(dir.filePath("out.txt"));
        result.stdoutText = bash.readAllStandardOutput();
        result.stderrText = bash.readAllStandardError();
        return result;
    }

    QTemporaryDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

TEST_F(LabCommandLine, GivesTheWindowsBytesAndFpingsExitStatusesAndRefusesBeforeTouchingTheOutput)
{
    const QByteArray expected = contents(QStringLiteral(QUORVEX_NETLAB_DIR "/batch_expected.txt"));
    const QByteArray silent = "silent.lab - 11010   [ ip req timed out ]\r\n";
    const QByteArray cutShort = "quorvex: line 15 is empty, so the 2 lines after it were not read.\n";
    const QByteArray usage =
        "give --input FILE and --output FILE, or --ping HOST, or the hosts themselves (HOST... or "
        "-g RANGE); --help tells more.\n";
    const QByteArray inPlace = contents(QStringLiteral(QUORVEX_NETLAB_DIR "/parallel_expected.txt"));
    const QByteArray badTimeout =
        "quorvex: the timeout \"abc\" is not a whole number; --timeout takes 0 to 2147483647 milliseconds.\n";
    const QByteArray badParallel = "quorvex: --parallel takes a whole number from 1 to 1024, not \"0\".\n";
    const QByteArray mixed = contents(QStringLiteral(QUORVEX_NETLAB_DIR "/mixed_expected.txt"));
    const QByteArray linkLocal = "a link-local address (fe80::/10, or one with a %zone), which Quorvex does not ping.\n";
    const struct {
        const char* command;
        int exitCode;
        QByteArray output;
        QByteArray stdoutText;
        QByteArray stderrText;  // $D stands for the folder
    } cases[] = {
        {R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" -t 200)", 1, expected, "", cutShort},
        {R"("$Q" --input="$D/answering.txt" --output "$D/out.txt")", 0, "", "", ""},
        // Typed at a terminal, the list ends at the empty line: what follows
        // is never read, nor waited for.
        {R"(printf 'answering.lab\n\nsilent.lab\n' | script -qec '"$Q" -i - -o "$D/out.txt" -t 200' /dev/null >/dev/null)",
         0, "", "", ""},
        // With echoes in flight, the same bytes in the same order.
        {R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" -t 200 -P 1)", 1, expected, "", cutShort},
        {R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" -t 200 -P 4)", 1, expected, "", cutShort},
        {R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" -t 200 --parallel 64)", 1, expected, "", cutShort},
        {R"("$Q" -i "$D/overtaking.txt" -o "$D/out.txt" -t 200)", 1, inPlace, "", ""},
        {R"("$Q" -i "$D/overtaking.txt" -o "$D/out.txt" -t 200 -P 2)", 1, inPlace, "", ""},
        {R"("$Q" -i "$D/overtaking.txt" -o "$D/out.txt" -t 200 -P 8)", 1, inPlace, "", ""},
        {R"("$Q" -i "$D/overtaking.txt" -o "$D/out.txt" -t 200 -P 1024)", 1, inPlace, "", ""},
        {R"("$Q" --input="$D/answering.txt" --output "$D/out.txt" -P 8)", 0, "", "", ""},
        {R"(cat "$D/hosts.txt" | "$Q" -i - -o - -t 200 -P 8)", 1, "kept", expected, cutShort},
        {R"(printf 'answering.lab\n\nsilent.lab\n' | "$Q" -i - -o "$D/out.txt" -t 200)", 0, "", "",
         "quorvex: line 2 is empty, so the 1 line after it was not read.\n"},
        {R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" -t 200 --retries=2 -P 8)", 1, expected, "", cutShort},  // no loss
        {R"("$Q" -i "$D/hosts.txt" -o /dev/null -t 200)", 1, "kept", "", cutShort},  // a device's size says nothing
        {R"("$Q" -i "$D/hosts.txt" -o - -t 200)", 1, "kept", expected, cutShort},
        {R"(printf 'silent.lab\n' | "$Q" -i - -o"$D/out.txt" -t 200)", 1, silent, "", ""},
        {R"(printf 'answering.lab\nsilent.lab\n' | "$Q" -i /dev/stdin -o "$D/out.txt" -t 200)", 1, silent, "", ""},
        {R"(mkfifo "$D/fifo" && { printf 'silent.lab\nanswering.lab\n' >"$D/fifo" & } && "$Q" -i "$D/fifo" -o "$D/out.txt" -t 200)",
         1, silent, "", ""},
        {R"("$Q" --ping answering.lab)", 0, "kept", "Success! answering.lab Replied from ip: 203.0.113.10\n", ""},
        {R"("$Q" --ping silent.lab -t 200)", 1, "kept",
         "Error! silent.lab Did not reply. Error: 11010   [ ip req timed out ]\n", ""},
        // Both families in one list, written in list order.
        {R"("$Q" -i "$D/mixed.txt" -o "$D/out.txt" -t 200)", 1, mixed, "", ""},
        {R"("$Q" -i "$D/mixed.txt" -o "$D/out.txt" -t 200 -P 64)", 1, mixed, "", ""},
        {R"(cat "$D/mixed.txt" | "$Q" -i - -o - -t 200 -P 4)", 1, "kept", mixed, ""},
        {R"("$Q" --ping 2001:db8:10::10)", 0, "kept", "Success! 2001:db8:10::10 Replied from ip: 2001:db8:10::10\n", ""},
        {R"("$Q" --ping 2001:db8:beef::1)", 1, "kept",
         "Error! 2001:db8:beef::1 Did not reply. Error: 11004   [ ip dest prot unreachable ]\n", ""},
        // A name of both families is pinged over IPv4 unless -6 asks for IPv6.
        {R"("$Q" --ping dual.lab)", 0, "kept", "Success! dual.lab Replied from ip: 203.0.113.10\n", ""},
        {R"("$Q" --ping dual.lab -6)", 0, "kept", "Success! dual.lab Replied from ip: 2001:db8:10::10\n", ""},
        {R"("$Q" --ping 2001:db8:10::10 -4)", 2, "kept", "",
         "quorvex: --ping 2001:db8:10::10 is an IPv6 address, and -4 pings IPv4 only.\n"},
        {R"(printf '2001:db8:10::10\nanswering.lab\n' | "$Q" -i - -o - -4)", 1, "kept",
         "2001:db8:10::10 - -1   [ inet_addr: bad IP format ]\r\n", ""},
        // Refused before anything is sent: the silent host first is never written.
        {R"("$Q" --ping fe80::1%to-router)", 2, "kept", "", "quorvex: --ping fe80::1%to-router is " + linkLocal},
        {R"("$Q" --ping fe80::1)", 2, "kept", "", "quorvex: --ping fe80::1 is " + linkLocal},
        {R"(printf 'silent.lab\nfe80::1%%to-router\n' | "$Q" -i - -o - -t 200)", 2, "kept", "",
         "quorvex: Invalid procedure call or argument: line 2 of \"standard input\" is fe80::1%to-router, " + linkLocal},
        {R"(printf 'silent.lab\n fe80::1 \n' >"$D/ll.txt"; "$Q" -i "$D/ll.txt" -o "$D/out.txt" -t 200 -P 8)", 2,
         "kept", "", "quorvex: Invalid procedure call or argument: line 2 of \"$D/ll.txt\" is fe80::1, " + linkLocal},
        {R"("$Q" --ping $'\xfe')", 1, "kept", "Error! \xfe Did not reply. Error: -1   [ inet_addr: bad IP format ]\n", ""},
        // A name that is not UTF-8 names its own file, not the one whose
        // name has U+FFFD in its place. The folder's removal cannot name it,
        // so the case removes it.
        {R"(printf 'silent.lab\n' >"$D/in"$'\xfe'; printf 'answering.lab\n' >"$D/in"$'\xef\xbf\xbd'; printf other >"$D/down"$'\xef\xbf\xbd'
            "$Q" -i "$D/in"$'\xfe' -o "$D/down"$'\xfe' -t 200; s=$?; mv "$D/down"$'\xfe' "$D/out.txt"; cat "$D/down"$'\xef\xbf\xbd'; rm "$D/in"$'\xfe'; exit $s)",
         1, silent, "other", ""},
        // Refused before the output is touched.
        {R"("$Q" -i "$D/missing.txt" -o "$D/out.txt")", 2, "kept", "",
         "quorvex: File not found: \"$D/missing.txt\" cannot be opened for reading: there is no such file.\n"},
        {R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" --timeout abc)", 2, "kept", "", badTimeout},
        {R"("$Q" -i /dev/null -o "$D/out.txt" -t abc)", 2, "kept", "", badTimeout},
        {R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" --bogus)", 2, "kept", "", "quorvex: unknown option --bogus; " + usage},
        {R"("$Q" -i "$D/hosts.txt")", 2, "kept", "", "quorvex: " + usage},
        {R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" stray)", 2, "kept", "",
         "quorvex: --input and hosts as arguments (\"stray\") are given together; give the hosts one way.\n"},
        // Hosts as arguments and ranges are a list's lines; -a and -u show
        // theirs on standard output, and the output keeps its meaning.
        {R"("$Q" answering.lab silent.lab '  unreachable.lab  ' -t 200 -P 4)", 1, "kept",
         silent + "unreachable.lab - 11003   [ ip dest host unreachable ]\r\n", ""},
        {R"("$Q" -g 198.51.100.0/30 -o "$D/out.txt")", 1,
         "198.51.100.1 - 11003   [ ip dest host unreachable ]\r\n198.51.100.2 - 11003   [ ip dest host unreachable ]\r\n",
         "", ""},
        {R"("$Q" -a -q answering.lab silent.lab -o "$D/out.txt" -t 200)", 1, silent, "answering.lab\n", ""},
        {R"("$Q" -u -g 2001:db8:10::10/127 -t 200 -P 2)", 1, "kept", "2001:db8:10::11\n", ""},
        {R"("$Q" -g 203.0.113.0/14)", 2, "kept", "",
         "quorvex: -g 203.0.113.0/14 gives more than 131072 addresses, the most a range may have.\n"},
        {R"(yes answering.lab | head -n 32768 | "$Q" -i - -o "$D/out.txt")", 2, "kept", "",
         "quorvex: Overflow: \"standard input\" lists more than 32767 hosts before its first empty line.\n"},
        {R"("$Q" -i /dev/zero -o "$D/out.txt")", 2, "kept", "",
         "quorvex: Path/File access error: line 1 of \"/dev/zero\" is longer than 65536 characters: the file is not "
         "a list of hosts.\n"},
        {R"(printf 'silent.lab\n' | "$Q" -i - -o /dev/full -t 200)", 2, "kept", "",
         "quorvex: Disk full: \"/dev/full\" cannot be written: No space left on device.\n"},
        {R"(printf 'answering.lab\nsilent.lab\n' | "$Q" -i - -o /dev/full -t 200 -P 8)", 2, "kept", "",
         "quorvex: Disk full: \"/dev/full\" cannot be written: No space left on device.\n"},
        {R"(yes answering.lab | head -n 32768 | "$Q" -i - -o "$D/out.txt" -P 8)", 2, "kept", "",
         "quorvex: Overflow: \"standard input\" lists more than 32767 hosts before its first empty line.\n"},
        {R"("$Q" -i /dev/null -o "$D/out.txt" -t abc -P 8)", 2, "kept", "", badTimeout},
        {R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" -P 0)", 2, "kept", "", badParallel},
        {R"("$Q" -i "$D/missing.txt" -o "$D/out.txt" -P 8)", 2, "kept", "",
         "quorvex: File not found: \"$D/missing.txt\" cannot be opened for reading: there is no such file.\n"},
        {R"("$Q")", 2, "kept", "",
         "quorvex: there is no display to open the window on (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are "
         "unset); without a window, use --input FILE --output FILE, HOST... or --ping HOST.\n"},
        {R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" --prometheus "$D/hosts.txt")", 2, "kept", "",
         "quorvex: --prometheus names \"$D/hosts.txt\", which is also the run's list.\n"},
        {R"("$Q" --ping answering.lab -r 2)", 2, "kept", "",
         "quorvex: --retries is for a batch run (--input and --output), not for --ping.\n"},
        {R"("$Q" --help >/dev/full)", 2, "kept", "",
         "quorvex: Disk full: \"standard output\" cannot be written: No space left on device.\n"},
        {R"("$Q" --ping answering.lab >/dev/full)", 2, "kept", "",
         "quorvex: Disk full: \"standard output\" cannot be written: No space left on device.\n"},
        // A run cut short by a signal or a full disk leaves the last
        // results as they were, and nothing beside them; with
        // --keep-partial, the lines it had.
        {R"(timeout --preserve-status -s INT 1 "$Q" -i "$D/cut.txt" -o "$D/out.txt" -t 9000; s=$?; ls -A "$D" | grep '^\.'; exit $s)",
         130, "kept", "", "quorvex: interrupted after 1 of 3 hosts; $D/out.txt was left as it was.\n"},
        {R"(timeout --preserve-status -s TERM 1 "$Q" -i "$D/cut.txt" -o "$D/out.txt" -t 9000 -P 8 --json)", 143,
         "kept", "", "quorvex: interrupted after 2 of 3 hosts; $D/out.txt was left as it was.\n"},
        {R"(timeout --preserve-status -s INT 1 "$Q" -i "$D/cut.txt" -o "$D/out.txt" -t 9000 -P 8 --keep-partial)",
         130, "", "", "quorvex: interrupted after 2 of 3 hosts; $D/out.txt is incomplete.\n"},
        {R"(timeout --preserve-status -s HUP 1 "$Q" -i "$D/cut.txt" -o - -t 9000)", 129, "kept", "",
         "quorvex: interrupted after 1 of 3 hosts; standard output is incomplete.\n"},
        {R"(cd "$QUORVEX_LAB_SMALL_DISK" && printf kept >out.txt && head -c 4096 /dev/zero >fill &&
            { yes answering.lab | head -n 40 | "$Q" -i - -o out.txt --json; s=$?; }; ls -A; mv out.txt "$D"; rm fill; exit $s)",
         2, "kept", "fill\nout.txt\n",
         "quorvex: Disk full: \"out.txt\" cannot be written: No space left on device; out.txt was left as it was.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const CommandLineRun result = run(QString::fromUtf8(c.command));
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.output.toStdString(), c.output.toStdString());
        EXPECT_EQ(result.stdoutText.toStdString(), c.stdoutText.toStdString());
        EXPECT_EQ(result.stderrText.toStdString(),
                  QByteArray(c.stderrText).replace("$D", QFile::encodeName(dir.path())).toStdString());
    }
}

// The objects of JSON output, each answer's round trip checked to lie
// within the timeout and replaced by true, as batch_expected.jsonl has it.
QList<QJsonObject> withRoundTripsChecked(const QByteArray& output, double timeoutMs)
{
    QList<QJsonObject> objects;
    for (const QByteArray& line : output.trimmed().split('\n')) {
        QJsonObject object = QJsonDocument::fromJson(line).object();
        const double rtt = object["rtt_ms"].toDouble(-1);
        EXPECT_EQ(object["rtt_ms"].isNull(), object["status"].toInt() != 0) << line.toStdString();
        if (rtt >= 0) {
            EXPECT_TRUE(rtt > 0 && rtt < timeoutMs) << line.toStdString();
            object["rtt_ms"] = true;
        }
        objects.append(object);
    }
    return objects;
}

// The host objects of a stream between its header, which names the
// options, and the trailer, which counts them and says how the run ended.
QList<QJsonObject> framedHosts(const QByteArray& output, const QJsonObject& options, const char* ended)
{
    QList<QByteArray> lines = output.trimmed().split('\n');
    const QJsonObject header = QJsonDocument::fromJson(lines.takeFirst()).object();
    EXPECT_EQ(header["type"], "run");
    EXPECT_EQ(header["format"], 1);
    EXPECT_EQ(header["options"], options);
    const QJsonObject trailer = QJsonDocument::fromJson(*ended ? lines.takeLast() : "{}").object();
    QList<QJsonObject> hosts;
    for (const QByteArray& line : lines)
        hosts.append(QJsonDocument::fromJson(line).object());
    EXPECT_EQ(trailer["ended"].toString(*ended ? "(none)" : ""), ended) << output.toStdString();
    if (*ended) {
        EXPECT_EQ(trailer["hosts"], hosts.size());
        EXPECT_EQ(trailer["answered"], std::count_if(hosts.begin(), hosts.end(),
                                                     [](const QJsonObject& host) { return host["status"] == 0; }));
        EXPECT_GT(trailer["elapsed_ms"].toDouble(), 0);
    }
    for (const QJsonObject& host : hosts)
        EXPECT_EQ(host["type"], "host");
    return hosts;
}

QJsonObject options(int timeoutMs, int retries, int parallel)
{
    return {{"timeout_ms", timeoutMs}, {"retries", retries}, {"parallel", parallel}};
}

// The same objects whatever the echoes in flight, into a file or down a
// pipe; the exit status and stderr as without --json.
TEST_F(LabCommandLine, JsonGivesEveryHostTheSameObjectWhateverTheEchoesInFlight)
{
    const char* cutShort = "quorvex: line 15 is empty, so the 2 lines after it were not read.\n";
    for (const auto& [command, parallel, expectedFile, stderrText] :
         {std::tuple{R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" -t 200 --json)", 1, "batch", cutShort},
          std::tuple{R"("$Q" -i "$D/hosts.txt" -o "$D/out.txt" -t 200 --json -P 64)", 64, "batch", cutShort},
          std::tuple{R"(cat "$D/hosts.txt" | "$Q" --json -i - -o - -t 200 -P 8)", 8, "batch", cutShort},
          std::tuple{R"("$Q" -i "$D/mixed.txt" -o "$D/out.txt" -t 200 --json)", 1, "mixed", ""},
          std::tuple{R"(cat "$D/mixed.txt" | "$Q" --json -i - -o - -t 200 -P 64)", 64, "mixed", ""}}) {
        SCOPED_TRACE(command);
        const QList<QJsonObject> expected = withRoundTripsChecked(
            contents(QStringLiteral(QUORVEX_NETLAB_DIR "/%1_expected.jsonl").arg(QLatin1StringView(expectedFile))), 1);
        const CommandLineRun result = run(QString::fromUtf8(command));
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_EQ(result.stderrText, stderrText);
        QByteArray hosts;
        for (const QJsonObject& host : framedHosts(result.output == "kept" ? result.stdoutText : result.output,
                                                   options(200, 0, parallel), "complete"))
            hosts += QJsonDocument(host).toJson(QJsonDocument::Compact) + '\n';
        EXPECT_EQ(withRoundTripsChecked(hosts, 200), expected);
    }
    const CommandLineRun ping = run(QStringLiteral(R"("$Q" --ping looping.lab --json)"));
    EXPECT_EQ(ping.exitCode, 1);
    const QList<QJsonObject> pinged = framedHosts(ping.stdoutText, options(500, 0, 1), "complete");
    ASSERT_EQ(pinged.size(), 1);
    EXPECT_EQ(QJsonDocument(pinged[0]).toJson(QJsonDocument::Compact).toStdString(),
              R"({"address":"198.51.100.193","host":"looping.lab","line":null,"router":"198.18.0.2","rtt_ms":null,)"
              R"("status":11013,"status_text":"ip ttl expired transit","ttl":null,"type":"host"})");
}

// A stream tells a whole run from a cut one: the hosts written before a
// signal, then "interrupted" (also with --keep-partial), no trailer when
// the process was killed, and "failed" with the error after the output
// was created.
TEST_F(LabCommandLine, JsonStreamEndsWithHowTheRunEnded)
{
    const struct {
        const char* command;
        int exitCode;
        const char* ended;  // "": no trailer
        int hosts;
        const char* error;
    } cases[] = {
        {R"(timeout --preserve-status -s TERM 1 "$Q" -i "$D/cut.txt" -o - -t 9000 -P 8 --json)", 143, "interrupted",
         1, ""},
        {R"(timeout --preserve-status -s INT 1 "$Q" -i "$D/cut.txt" -o "$D/out.txt" -t 9000 --json --keep-partial;
            s=$?; cat "$D/out.txt"; exit $s)",
         130, "interrupted", 1, ""},
        {R"(timeout --preserve-status -s KILL 1 "$Q" -i "$D/cut.txt" -o - -t 9000 -P 8 --json)", 137, "", 1, ""},
        // Line 3 lies past the reader's first 64 KiB, which it reads once
        // the silent host is done, after the list was cut.
        {R"({ printf 'silent.lab\nanswering.lab'; head -c 65500 /dev/zero | tr '\0' ' '; printf '\nanswering.lab\n'; } >"$D/list"
            { sleep 0.5; printf 'x\n' >"$D/list"; } & "$Q" -i "$D/list" -o - -t 1000 --json)",
         2, "failed", 2,
         "Path/File access error: \"$D/list\" was changed while the run read it: line 3 is not the line that was "
         "counted."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        const CommandLineRun result = run(QString::fromUtf8(c.command));
        EXPECT_EQ(result.exitCode, c.exitCode);
        const int parallel = QByteArray(c.command).contains("-P 8") ? 8 : 1;
        const QByteArray timeout = QByteArray(c.command).contains("-t 9000") ? "9000" : "1000";
        EXPECT_EQ(framedHosts(result.stdoutText, options(timeout.toInt(), 0, parallel), c.ended).size(), c.hosts);
        if (*c.error) {
            EXPECT_EQ(QJsonDocument::fromJson(result.stdoutText.trimmed().split('\n').last())["error"].toString(),
                      QString::fromUtf8(c.error).replace("$D", dir.path()));
        }
    }
}

// The metrics file as Prometheus' own promtool and node_exporter's textfile
// collector read it, on the lab's loopback; a run that fails (a list that
// is missing) keeps the hosts' samples and says success 0.
TEST_F(LabCommandLine, PrometheusFileIsReadByNodeExporterAndAFailedRunKeepsTheSamples)
{
    if (QStandardPaths::findExecutable("promtool").isEmpty() ||
        QStandardPaths::findExecutable("prometheus-node-exporter").isEmpty()) {
        ASSERT_NE(qgetenv("CI"), "true") << "promtool or prometheus-node-exporter is missing";
        GTEST_SKIP() << "skip: promtool or prometheus-node-exporter is not installed";
    }
    const CommandLineRun result = run(QStringLiteral(R"(mkdir "$D/tf"; m="$D/tf/quorvex.prom"
        "$Q" -i "$D/hosts.txt" -o "$D/out.txt" -t 200 -P 8 --prometheus "$m" 2>/dev/null; echo "run $?"
        promtool check metrics <"$m" && echo checked
        "$Q" -i "$D/missing.txt" -o "$D/out.txt" --prometheus "$m" 2>/dev/null; echo "failed $?"
        promtool check metrics <"$m" && echo checked; ls -A "$D/tf"
        prometheus-node-exporter --web.listen-address=127.0.0.1:19100 --collector.disable-defaults \
            --collector.textfile --collector.textfile.directory="$D/tf" 2>/dev/null & e=$!
        for i in $(seq 100); do exec 3<>/dev/tcp/127.0.0.1/19100 && break; sleep 0.1; done 2>/dev/null
        printf 'GET /metrics HTTP/1.0\r\n\r\n' >&3; grep -E '^(quorvex_|node_textfile_scrape_error)' <&3
        kill $e; wait $e)"));
    const QByteArray& out = result.stdoutText;
    EXPECT_TRUE(out.startsWith("run 1\nchecked\nfailed 2\nchecked\nquorvex.prom\n")) << out.toStdString();
    for (const char* series :
         {"node_textfile_scrape_error 0", "quorvex_last_run_success 0",
          R"(quorvex_host_up{host="answering.lab",line="1"} 1)", R"(quorvex_host_up{host="silent.lab",line="2"} 0)",
          R"(quorvex_host_status{host="looping.lab",line="8"} 11013)",
          R"(quorvex_host_ttl{host="answering.lab",line="1"} 63)", "quorvex_hosts 14", "quorvex_hosts_down 11"})
        EXPECT_TRUE(out.contains(QByteArray(series) + '\n')) << series << "\n" << out.toStdString();
    EXPECT_TRUE(out.contains(R"(quorvex_host_rtt_seconds{host="answering.lab",line="1"} )"));
    EXPECT_FALSE(out.contains(R"(quorvex_host_rtt_seconds{host="silent.lab")"));
}

// A status line by the Monitoring Plugins' grammar, perfdata of
// 'label'=value[UOM];[warn];[crit];[min];[max] (a label quoted where it
// holds a space, never holding = or '): its state word, then each label
// and value, a round trip's as "ms"; empty when it breaks the grammar.
QByteArrayList pluginLine(const QByteArray& line)
{
    static const QString item = R"(('[^'=]+'|[^' =]+)=(U|-?[0-9.]+(?:s|ms|us|%|B|KB|MB|TB|c)?)(?:;[-0-9.]*){0,4})";
    const QRegularExpressionMatch whole =
        QRegularExpression(
            QStringLiteral(R"(^QUORVEX (OK|WARNING|CRITICAL|UNKNOWN) - [^|\n]*(?: \| (%1(?: %1)*))?\n$)").arg(item))
            .match(QString::fromLatin1(line));
    QByteArrayList parts{whole.captured(1).toLatin1()};
    for (const QRegularExpressionMatch& m : QRegularExpression(item).globalMatch(whole.captured(2)))
        parts << m.captured(1).toLatin1() << (m.captured(2).endsWith("ms") ? "ms" : m.captured(2).toLatin1());
    return whole.hasMatch() ? parts : QByteArrayList();
}

// --plugin's state and exit status are check_icmp's for the same hosts and
// thresholds (one echo each), by list and by --ping, and its perfdata
// parses. check_icmp takes a round trip threshold below 0.1 ms as 0.1 ms,
// more than the lab's answers take, so the row of -w 0.001 is ours only.
TEST_F(LabCommandLine, PluginJudgesAsCheckIcmpDoesAndItsPerfdataParses)
{
    const QString checkIcmp = QStringLiteral("/usr/lib/nagios/plugins/check_icmp");
    EXPECT_TRUE(QFile::exists(checkIcmp) || qgetenv("CI") != "true") << "monitoring-plugins-basic is missing";
    const struct {
        const char *hosts, *thresholds;
        int exitCode;
        bool asCheckIcmp = true;
    } cases[] = {{"answering.lab router.lab multihomed.lab", "", 0},
                 {"answering.lab router.lab", "-w 0.001,40%", 1, false},
                 {"answering.lab router.lab", "-w 200,0%", 1},
                 {"answering.lab silent.lab", "", 2},
                 {"answering.lab", "-c 500,0%", 2},
                 {"silent.lab", "", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.hosts);
        environment.insert("H", c.hosts);
        environment.insert("W", c.thresholds);
        const CommandLineRun ours = run(QStringLiteral(R"(set -f; [ "$H" = "${H%% *}" ] && exec "$Q" --plugin --ping $H $W
            printf '%s\n' $H >"$D/p.txt"; "$Q" --plugin -i "$D/p.txt" -P 4 $W)"));
        EXPECT_EQ(ours.exitCode, c.exitCode) << ours.stderrText.toStdString();
        QByteArrayList expected{ours.stdoutText.split(' ').value(1)};
        for (const QByteArray& host : QByteArray(c.hosts).split(' '))
            expected << "rta_" + host << (host == "silent.lab" ? "U" : "ms") << "pl_" + host
                     << (host == "silent.lab" ? "100%" : "0%");
        EXPECT_EQ(pluginLine(ours.stdoutText), expected) << ours.stdoutText.toStdString();
        const CommandLineRun theirs = run(checkIcmp + QStringLiteral(R"( -n 1 $W $(printf -- '-H %s ' $H))"));
        EXPECT_TRUE(!c.asCheckIcmp || !QFile::exists(checkIcmp) ||
                    (theirs.exitCode == c.exitCode && theirs.stdoutText.startsWith(expected[0] + " - ")))
            << theirs.stdoutText.toStdString();
    }
}

// On a terminal: the host in progress shows while its echo waits, control
// characters are escaped (C1 too, which some terminals take as CSI or OSC)
// there and in --ping's verdict, and one line sums the run up.
TEST_F(LabCommandLine, OnATerminalShowsTheHostInProgressEscapedAndSumsUp)
{
    write("hostile.txt", "\x1b]0;pwned\x07\x1b[31mRED\xc2\x80\xc2\x9b\xc2\x9d\xc2\x9f\nanswering.lab\nsilent.lab\n");
    const CommandLineRun result =
        run(QStringLiteral(R"(script -qec '"$Q" -i "$D/hostile.txt" -o "$D/out.txt" -t 2000' /dev/null)"));
    const QByteArray& screen = result.stdoutText;
    const std::string shown = screen.toStdString();
    EXPECT_EQ(result.exitCode, 1) << shown;
    EXPECT_TRUE(screen.contains(R"(0/3 \x1b]0;pwned\x07\x1b[31mRED\xc2\x80\xc2\x9b\xc2\x9d\xc2\x9f)")) << shown;
    for (const char* raw : {"\x1b]0;", "\x1b[31m", "\xc2\x80", "\xc2\x9b", "\xc2\x9d", "\xc2\x9f"})
        EXPECT_FALSE(screen.contains(raw)) << shown;
    EXPECT_TRUE(screen.contains("2/3 silent.lab")) << "the silent host never showed while its echo waited: " << shown;
    EXPECT_TRUE(screen.endsWith("quorvex: 3 hosts pinged, 2 did not answer; the output is " +
                                QFile::encodeName(dir.filePath("out.txt")) + ".\r\n"))
        << shown;

    const CommandLineRun ping = run(QStringLiteral(
        R"(export H=$'\e]0;owned\a\e[2J\xc2\x9banswering.lab'; script -qec '"$Q" --ping "$H"' /dev/null)"));
    EXPECT_EQ(ping.stdoutText.toStdString(),
              R"(Error! \x1b]0;owned\x07\x1b[2J\xc2\x9banswering.lab Did not reply. Error: -1   [ inet_addr: bad IP format ])"
              "\r\n");
}

// With -o - on the progress line's terminal, each result starts a line.
TEST_F(LabCommandLine, OnATerminalTheProgressLineStepsAsideForEachResultLine)
{
    write("two.txt", "answering.lab\nsilent.lab\n");
    for (const char* json : {"", " --json"}) {
        const CommandLineRun result = run(
            QStringLiteral(R"(script -qec '"$Q" -i "$D/two.txt" -o - -t 1000%1' /dev/null)").arg(QString::fromLatin1(json)));
        EXPECT_TRUE(result.stdoutText.contains("1/2 silent.lab")) << result.stdoutText.toStdString();
        EXPECT_TRUE(result.stdoutText.contains(*json ? "\r\x1b[K{\"type\":\"host\",\"line\":2,\"host\":\"silent.lab\""
                                                     : "\r\x1b[Ksilent.lab - 11010"))
            << result.stdoutText.toStdString();
    }
}

// Echoes in flight overlap: the hosts behind a silent one settle while its
// echo waits, which a serial run reaches only after its timeout.
TEST_F(LabCommandLine, WithEchoesInFlightTheHostsBehindASilentOneSettleWhileItWaits)
{
    write("overlap.txt", "silent.lab\n" + QByteArray("answering.lab\n").repeated(7));
    const CommandLineRun result =
        run(QStringLiteral(R"(script -qec '"$Q" -i "$D/overlap.txt" -o "$D/out.txt" -t 3000 -P 8' /dev/null)"));
    const std::string shown = result.stdoutText.toStdString();
    EXPECT_EQ(result.exitCode, 1) << shown;
    EXPECT_EQ(result.output, "silent.lab - 11010   [ ip req timed out ]\r\n");
    EXPECT_TRUE(result.stdoutText.contains("7/8 silent.lab")) << shown;
    EXPECT_TRUE(result.stdoutText.endsWith("quorvex: 8 hosts pinged, 1 did not answer; the output is " +
                                           QFile::encodeName(dir.filePath("out.txt")) + ".\r\n"))
        << shown;
}

// A run stopped as Ctrl+Z stops it (SIGSTOP to its process group, the helper
// included) for longer than its timeout and the helper's grace, while the
// silent host's echo is in flight (the output's hidden file, created once
// the list is counted, holds the header by then), then continued, writes
// what an unpaused run writes: serially and with echoes in flight. Only the
// round trips and the run's times may differ.
TEST_F(LabCommandLine, APausedRunWritesWhatAnUnpausedOneWrites)
{
    write("paused.txt", "answering.lab\nsilent.lab\n" + contents(dir.filePath("hosts.txt")));
    for (const char* inFlight : {"1", "64"}) {
        const CommandLineRun result = run(QStringLiteral(R"sh(
            a=("$Q" -i "$D/paused.txt" -t 200 -P %1 --json -o)
            "${a[@]}" "$D/plain"; plain=$?
            setsid "${a[@]}" "$D/paused" & q=$!
            until compgen -G "$D/.paused.quorvex-*" >/dev/null; do sleep 0.01; done; sleep 0.05
            kill -STOP -$q; sleep 5; kill -CONT -$q; wait $q; paused=$?
            strip() { sed -E 's/"(rtt_ms|started|elapsed_ms)":[^,]*,//' "$D/$1"; }
            [ $plain = $paused ] && diff <(strip plain) <(strip paused) && grep -c 11010 "$D/paused")sh")
                                              .arg(QString::fromLatin1(inFlight)));
        EXPECT_EQ(result.exitCode, 0) << "-P " << inFlight << ": " << result.stdoutText.toStdString()
                                      << result.stderrText.toStdString();
        EXPECT_NE(result.stdoutText, "0\n") << "no silent host in the list";
    }
}

// For a user who is not root, the datagram lab lets echoes through, and so
// does the helper's lab (which runs everything as nobody already); the
// raw-socket lab lets none: there the command line refuses the run and
// leaves the output as it was, rather than list every host as down.
TEST_F(LabCommandLine, WithoutAnyWayToSendAnEchoTheRunIsRefused)
{
    QFile::setPermissions(dir.path(), QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther |
                                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    write("out.txt", "kept");
    for (const char* name : {"answering.txt", "out.txt"})
        QFile::setPermissions(dir.filePath(name), QFileDevice::ReadOther | QFileDevice::WriteOther |
                                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const bool helper = netlab::socketKind() == "helper";
    const CommandLineRun result = run(helper ? QStringLiteral(R"("$Q" -i "$D/answering.txt" -o "$D/out.txt")")
                                             : QStringLiteral(R"(setpriv --reuid=65534 --regid=65534 --clear-groups )"
                                                              R"("$Q" -i "$D/answering.txt" -o "$D/out.txt")"));
    if (netlab::socketKind() == "datagram" || helper) {
        EXPECT_EQ(result.exitCode, 0) << result.stderrText.toStdString();
        EXPECT_EQ(result.output, "");
    } else {
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_EQ(result.output, "kept");
        EXPECT_TRUE(result.stderrText.startsWith("quorvex: no ICMP")) << result.stderrText.toStdString();
        EXPECT_EQ(result.stderrText.count('\n'), 1) << result.stderrText.toStdString();
    }
    // --plugin says so as UNKNOWN, on its status line and on stderr.
    const bool refused = netlab::socketKind() == "raw";
    const CommandLineRun plugin = run((helper ? "" : "setpriv --reuid=65534 --regid=65534 --clear-groups ") +
                                      QStringLiteral(R"("$Q" --plugin -i "$D/answering.txt")"));
    EXPECT_EQ(plugin.exitCode, refused ? 3 : 0) << plugin.stdoutText.toStdString();
    EXPECT_TRUE(plugin.stdoutText.startsWith(refused ? "QUORVEX UNKNOWN - no ICMP" : "QUORVEX OK - 2 of 2 hosts answered"))
        << plugin.stdoutText.toStdString();
    EXPECT_EQ(plugin.stderrText.startsWith("quorvex: no ICMP"), refused) << plugin.stderrText.toStdString();
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
