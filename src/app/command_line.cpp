#include "app/command_line.h"

#include "app/command_line_parser.h"
#include "app/console.h"
#include "platform/ansi.h"
#include "platform/app.h"
#include "platform/files/file_name.h"
#include "platform/error_report.h"
#include "platform/msgbox.h"
#include "platform/net/icmp_rights.h"
#include "platform/runtime_error.h"
#include "platform/terminal.h"
#include "runs/batch_file_ping.h"
#include "runs/json_lines.h"
#include "runs/manual_ping.h"

#include <QCoreApplication>

#include <cstdio>
#include <optional>

namespace {

using app::CommandLineRequest;
using app::Console;

constexpr int kEveryHostAnswered = 0;
constexpr int kSomeHostDidNotAnswer = 1;
constexpr int kFailed = 2;

// What the window would show in a message box.
class ConsoleMessageBox final : public platform::MessageBox {
public:
    explicit ConsoleMessageBox(Console& console) : console_(console) {}
    void show(const QString& prompt, int) override { console_.Say(prompt); }

private:
    Console& console_;
    platform::ScopedFake<platform::MessageBox> installed_{*this};
};

runs::BatchFile batchFile(const QByteArray& argument)
{
    if (argument == "-")
        return {QString(), true};
    return {platform::decodeFileName(argument)};
}

class CommandLineBatch final : public runs::BatchControls {
public:
    CommandLineBatch(Console& console, const CommandLineRequest& request)
        : console_(console),
          request_(request),
          sharesTerminal_(request.output == "-" && platform::StandardOutputSharesTerminal()),
          timeout_(platform::decodeFileName(request.timeout))
    {
    }

    runs::BatchFile InputFile() override { return batchFile(request_.input); }
    runs::BatchFile OutputFile() override { return batchFile(request_.output); }
    // Read for every host: decoded once, as the argument stays the same.
    QString TimeoutText() override { return timeout_; }
    void SetStatusText(const QString&) override {}
    float ProgressValue() override { return value_; }
    void SetProgressValue(float value) override { value_ = value; }
    void SetProgressMax(float max) override { total_ = static_cast<int>(max); }
    // The hosts settled so far: all above this one in a serial run.
    void HostStarting(const QString& host) override { console_.Progress(static_cast<int>(value_), total_, host); }
    bool ListBeforeOutput() override { return true; }
    int Retries() override { return request_.retries.toInt(); }
    void ListCutShort(const runs::HostList::CutShort& cut) override
    {
        console_.Say(QStringLiteral("line %1 is empty, so the %2%3 line%4 after it %5 not read.")
                         .arg(cut.emptyLine)
                         .arg(cut.atLeast ? QStringLiteral("more than ") : QString())
                         .arg(cut.linesAfter)
                         .arg(cut.linesAfter == 1 && !cut.atLeast ? "" : "s")
                         .arg(cut.linesAfter == 1 && !cut.atLeast ? "was" : "were"));
    }
    runs::OutputFormat Format() override
    {
        return request_.json ? runs::OutputFormat::JsonLines : runs::OutputFormat::Text;
    }
    void BeforeOutputLine() override
    {
        if (sharesTerminal_)
            console_.StepAside();
    }
    void AfterOutputLine() override
    {
        if (sharesTerminal_)
            console_.StepBack();
    }

private:
    Console& console_;
    const CommandLineRequest& request_;
    const bool sharesTerminal_;
    const QString timeout_;
    float value_ = 0.0f;
    int total_ = 0;
};

class CommandLinePing final : public runs::ManualPingControls {
public:
    // The host's bytes as single-byte text, which the resolver gets back
    // byte for byte.
    explicit CommandLinePing(const CommandLineRequest& request)
        : host_(platform::fromAnsi(request.host)), timeout_(platform::decodeFileName(request.timeout))
    {
    }

    QString HostText() override { return host_; }
    QString TimeoutText() override { return timeout_; }
    void SetVerdict(const QString& caption) override { verdict = caption; }
    void SetResult(const runs::HostResult& settled) override { result = settled; }

    QString verdict;
    runs::HostResult result;

private:
    QString host_;
    QString timeout_;
};

QString plural(int count, const char* noun)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(noun, count == 1 ? "" : "s");
}

int batchRun(Console& console, const CommandLineRequest& request)
{
    CommandLineBatch controls(console, request);
    const runs::BatchTotals totals = runs::BatchFilePing(controls, request.parallel.toInt());
    console.ClearProgress();
    if (console.Terminal()) {
        const QString output = request.output == "-" ? QStringLiteral("standard output")
                                                     : platform::decodeFileName(request.output);
        console.Say(QStringLiteral("%1 pinged, %2 did not answer; the output is %3.")
                        .arg(plural(totals.pinged, "host"))
                        .arg(totals.didNotAnswer)
                        .arg(output));
    }
    return totals.didNotAnswer > 0 ? kSomeHostDidNotAnswer : kEveryHostAnswered;
}

int manualPing(const CommandLineRequest& request)
{
    CommandLinePing controls(request);
    const std::optional<std::int32_t> status = runs::ManualPing(controls);
    if (!status)
        return kFailed;  // Windows Sockets did not start; the message said so
    // The verdict names the host as given, which may hold a terminal's
    // commands; a file or a pipe gets its bytes as they are. JSON escapes
    // control characters itself.
    QByteArray line;
    if (request.json) {
        runs::AppendJsonLine(controls.result, line);
    } else {
        line = platform::toAnsi(controls.verdict);
        if (platform::StandardOutputIsTerminal())
            line = app::TerminalText(line);
        line += '\n';
    }
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    return *status == 0 ? kEveryHostAnswered : kSomeHostDidNotAnswer;
}

// Empty when an echo can be sent; otherwise why not, and the fix.
bool displayAvailable()
{
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

}  // namespace

int RunCommandLine(int argc, char** argv)
{
    QByteArrayList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QByteArray(argv[i]));
    const app::ParsedCommandLine parsed = app::ParseCommandLine(arguments);
    Console console;
    if (!parsed.error.isEmpty()) {
        console.Say(parsed.error);
        return kFailed;
    }
    const CommandLineRequest& request = parsed.request;
    const platform::Application& app = platform::App();
    switch (request.action) {
    case CommandLineRequest::Action::Help:
        std::fputs(qPrintable(app::CommandLineHelp()), stdout);
        return kEveryHostAnswered;
    case CommandLineRequest::Action::Version:
        std::printf("%s %d.%d.%d\n", qPrintable(app.Title), app.Major, app.Minor, app.Revision);
        return kEveryHostAnswered;
    case CommandLineRequest::Action::Batch:
    case CommandLineRequest::Action::Ping: break;
    }

    QCoreApplication application(argc, argv);
    // Every echo would fail alike: a run would report every host as down.
    if (const QString why = platform::missingIcmpRightsAdvice(); !why.isEmpty()) {
        console.Say(why);
        return kFailed;
    }
    ConsoleMessageBox messages(console);
    try {
        if (request.action == CommandLineRequest::Action::Batch)
            return batchRun(console, request);
        return manualPing(request);
    } catch (const platform::RuntimeError& error) {
        console.Say(platform::ErrorReportText(error));
    } catch (const std::exception& error) {
        console.Say(QStringLiteral("Internal error: ") + QString::fromLocal8Bit(error.what()));
    }
    console.ClearProgress();
    return kFailed;
}

std::optional<int> RunWithoutWindow(int argc, char** argv)
{
    if (argc > 1)
        return RunCommandLine(argc, argv);
    if (displayAvailable())
        return std::nullopt;
    std::fputs(
        "quorvex: there is no display to open the window on (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM "
        "are unset); without a window, use --input FILE --output FILE or --ping HOST.\n",
        stderr);
    return kFailed;
}
