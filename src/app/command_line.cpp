#include "app/command_line.h"

#include "platform/app.h"
#include "platform/forms/dispatch.h"
#include "platform/forms/msgbox.h"
#include "platform/runtime_error.h"
#include "platform/terminal.h"
#include "runs/batch_file_ping.h"
#include "runs/manual_ping.h"
#include "runs/parallel_batch.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <optional>

namespace {

constexpr int kEveryHostAnswered = 0;
constexpr int kSomeHostDidNotAnswer = 1;
constexpr int kFailed = 2;

// Standard error: one line per message, and on a terminal a progress line
// that the messages push aside.
class Console {
public:
    void say(const QString& line)
    {
        clearProgress();
        std::fprintf(stderr, "quorvex: %s\n", qUtf8Printable(line));
    }

    // Redrawn at most ten times a second, and only on a terminal.
    void progress(int done, int total, const QString& host)
    {
        if (!terminal_ || (shown_ && sinceDrawn_.elapsed() < 100))
            return;
        std::fprintf(stderr, "\r\033[K%d/%d %s", done, total, qUtf8Printable(host));
        std::fflush(stderr);
        shown_ = true;
        sinceDrawn_.start();
    }

    void clearProgress()
    {
        if (shown_)
            std::fputs("\r\033[K", stderr);
        shown_ = false;
    }

private:
    const bool terminal_ = platform::StandardErrorIsTerminal();
    bool shown_ = false;
    QElapsedTimer sinceDrawn_;
};

// What the window would show in a message box.
class ConsoleMessageBox final : public platform::MessageBox {
public:
    explicit ConsoleMessageBox(Console& console) : console_(console) {}
    void show(const QString& prompt, int) override { console_.say(prompt); }

private:
    Console& console_;
    platform::ScopedFake<platform::MessageBox> installed_{*this};
};

class CommandLineBatch final : public runs::BatchControls {
public:
    CommandLineBatch(Console& console, QString input, QString output, QString timeout)
        : console_(console), input_(std::move(input)), output_(std::move(output)), timeout_(std::move(timeout))
    {
    }

    QString InputPath() override { return input_; }
    QString OutputPath() override { return output_; }
    QString TimeoutText() override { return timeout_; }
    void SetStatusText(const QString&) override {}
    float ProgressValue() override { return value_; }
    void SetProgressValue(float value) override { value_ = value; }
    void SetProgressMax(float max) override { total_ = static_cast<int>(max); }
    // The hosts settled so far: all above this one in a serial run.
    void HostStarting(const QString& host) override { console_.progress(static_cast<int>(value_), total_, host); }

private:
    Console& console_;
    QString input_;
    QString output_;
    QString timeout_;
    float value_ = 0.0f;
    int total_ = 0;
};

class CommandLinePing final : public runs::ManualPingControls {
public:
    CommandLinePing(QString host, QString timeout) : host_(std::move(host)), timeout_(std::move(timeout)) {}

    QString HostText() override { return host_; }
    QString TimeoutText() override { return timeout_; }
    void SetVerdict(const QString& caption) override { verdict = caption; }

    std::optional<QString> verdict;

private:
    QString host_;
    QString timeout_;
};

int batchRun(Console& console, const QString& input, const QString& output, const QString& timeout, int parallel)
{
    CommandLineBatch controls(console, input, output, timeout);
    const int silentHosts = runs::BatchFilePing(controls, parallel);
    console.clearProgress();
    return silentHosts > 0 ? kSomeHostDidNotAnswer : kEveryHostAnswered;
}

int manualPing(const QString& host, const QString& timeout)
{
    CommandLinePing controls(host, timeout);
    runs::ManualPing(controls);
    if (!controls.verdict)
        return kFailed;  // Windows Sockets did not start; the message said so
    std::printf("%s\n", qUtf8Printable(*controls.verdict));
    return controls.verdict->startsWith(QStringLiteral("Success! ")) ? kEveryHostAnswered : kSomeHostDidNotAnswer;
}

}  // namespace

int RunCommandLine(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const platform::Application& app = platform::App();
    QCoreApplication::setApplicationName(app.Title);
    QCoreApplication::setApplicationVersion(QStringLiteral("%1.%2.%3").arg(app.Major).arg(app.Minor).arg(app.Revision));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Checks which hosts answer an ICMP echo. Without options, opens the window.\n"
                       "Exit status: 0 every host answered, 1 at least one did not, 2 an error."));
    const QCommandLineOption input({"i", "input"}, "Ping every host that FILE lists, one per line, up to its first "
                                                   "empty line.", "FILE");
    const QCommandLineOption output({"o", "output"}, "Write each host that did not answer, with the reason, into "
                                                     "FILE (replaced).", "FILE");
    const QCommandLineOption ping("ping", "Ping HOST once and print the verdict.", "HOST");
    const QCommandLineOption timeout({"t", "timeout"}, "Wait at most MS milliseconds for each answer (default 500).",
                                     "MS", "500");
    const QCommandLineOption parallel({"P", "parallel"}, "Keep up to N echoes in flight, 1 to 1024 (default 1); the "
                                                         "output file is the same.", "N", "1");
    parser.addOptions({input, output, ping, timeout, parallel});
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();

    Console console;
    if (!parser.parse(QCoreApplication::arguments())) {
        console.say(parser.errorText());
        return kFailed;
    }
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
        parser.showVersion();
    const bool batch = parser.isSet(input) || parser.isSet(output);
    if (!parser.positionalArguments().isEmpty() || batch == parser.isSet(ping) ||
        (batch && !(parser.isSet(input) && parser.isSet(output)))) {
        console.say(QStringLiteral("give --input FILE and --output FILE, or --ping HOST; --help tells more."));
        return kFailed;
    }

    bool isNumber = false;
    const int echoesInFlight = parser.value(parallel).toInt(&isNumber);
    if (!isNumber || echoesInFlight < 1 || echoesInFlight > runs::kMostParallelEchoes) {
        console.say(QStringLiteral("--parallel takes a whole number from 1 to %1, not \"%2\".")
                        .arg(runs::kMostParallelEchoes)
                        .arg(parser.value(parallel)));
        return kFailed;
    }

    ConsoleMessageBox messages(console);
    try {
        if (batch)
            return batchRun(console, parser.value(input), parser.value(output), parser.value(timeout), echoesInFlight);
        return manualPing(parser.value(ping), parser.value(timeout));
    } catch (const platform::RuntimeError& error) {
        console.say(platform::ErrorReportText(error));
    } catch (const std::exception& error) {
        console.say(QStringLiteral("Internal error: ") + QString::fromLocal8Bit(error.what()));
    }
    console.clearProgress();
    return kFailed;
}
