#include "app/command_line.h"

#include "app/command_line_parser.h"
#include "app/console.h"
#include "app/echo_report.h"
#include "platform/ansi.h"
#include "platform/app.h"
#include "platform/ending_signals.h"
#include "platform/error_report.h"
#include "platform/files/file_name.h"
#include "platform/files/files.h"
#include "platform/msgbox.h"
#include "platform/net/icmp_rights.h"
#include "platform/runtime_error.h"
#include "platform/terminal.h"
#include "runs/batch_file_ping.h"
#include "runs/batch_output.h"
#include "runs/host_list.h"
#include "runs/host_pipeline.h"
#include "runs/host_range.h"
#include "runs/json_lines.h"
#include "runs/manual_ping.h"
#include "runs/ping_texts.h"
#include "runs/plugin_status.h"
#include "runs/prometheus_text.h"
#include "runs/timeout.h"

#include <QCoreApplication>
#include <QScopeGuard>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

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

// The output as the lines on stderr name it.
QString outputName(const QByteArray& argument)
{
    return argument == "-" ? QStringLiteral("standard output") : platform::decodeFileName(argument);
}

runs::AddressChoice addressChoice(const CommandLineRequest& request)
{
    return request.ipv4Only    ? runs::AddressChoice::Ipv4Only
           : request.ipv6Names ? runs::AddressChoice::Ipv6Names
                               : runs::AddressChoice::Usual;
}

// Hosts given as arguments are the lines of a list; a range hands out its
// addresses as the run reads them.
std::optional<runs::GivenHosts> givenHosts(const CommandLineRequest& request)
{
    if (request.range) {
        runs::HostRange range = *runs::HostRange::parse(request.hosts).range;
        const int count = static_cast<int>(range.size());
        return runs::GivenHosts{count, [range]() mutable { return range.next(); }};
    }
    if (request.hosts.isEmpty())
        return std::nullopt;
    return runs::GivenHosts{static_cast<int>(request.hosts.size()),
                            [hosts = request.hosts, next = qsizetype{0}]() mutable -> std::optional<QString> {
                                if (next == hosts.size())
                                    return std::nullopt;
                                return runs::TrimHost(platform::fromAnsi(hosts[next++]));
                            }};
}

class CommandLineBatch final : public runs::BatchEvents {
public:
    CommandLineBatch(Console& console, const CommandLineRequest& request)
        : console_(console),
          request_(request),
          sharesTerminal_((app::OutputOf(request) == "-" || request.answered || request.silent) &&
                          platform::StandardOutputSharesTerminal()),
          report_(!request.roundTrips.isEmpty() ? app::EchoReport::HostLines::RoundTrips
                  : !request.count.isEmpty()    ? app::EchoReport::HostLines::Summary
                                                : app::EchoReport::HostLines::None)
    {
    }

    runs::BatchOptions Options() const
    {
        runs::BatchOptions options;
        options.input = batchFile(request_.input);
        options.given = givenHosts(request_);
        if (request_.answered || request_.silent)
            options.shown = request_.answered ? runs::OutputFormat::AnsweredHosts : runs::OutputFormat::SilentHosts;
        options.format = request_.json ? runs::OutputFormat::JsonLines : runs::OutputFormat::Text;
        options.pipeline = {.timeoutText = platform::decodeFileName(request_.timeout),
                            .retries = request_.retries.toInt(),
                            .parallel = request_.parallel.toInt(),
                            .addresses = addressChoice(request_),
                            .count = (request_.count.isEmpty() ? request_.roundTrips : request_.count).toInt(),
                            .intervalMs = request_.interval.toInt()};
        options.count = {.failOnLoss = request_.failOnLoss, .summariesOnly = request_.quiet};
        options.echoEvents = request_.totals;
        // --plugin's only output is its status line; -a, -u and -q leave
        // standard output to their own.
        if (app::OutputOf(request_).isEmpty()) {
            options.output = {QStringLiteral("/dev/null")};
        } else {
            // A scheduler's next run reads the last whole output; a run cut
            // short must not leave half of one in its place.
            options.output = batchFile(app::OutputOf(request_));
            options.output.replaceWhenDone = !request_.keepPartial;
        }
        return options;
    }

    void Counted(int hosts) override { total_ = hosts; }
    // The hosts settled so far, and the one the output waits for.
    void Progress(int settled, const QString& host) override
    {
        done_ = settled;
        console_.Progress(settled, total_, host);
    }
    void ListCutShort(const runs::HostList::CutShort& cut) override
    {
        console_.Say(QStringLiteral("line %1 is empty, so the %2%3 line%4 after it %5 not read.")
                         .arg(cut.emptyLine)
                         .arg(cut.atLeast ? QStringLiteral("more than ") : QString())
                         .arg(cut.linesAfter)
                         .arg(cut.linesAfter == 1 && !cut.atLeast ? "" : "s")
                         .arg(cut.linesAfter == 1 && !cut.atLeast ? "was" : "were"));
    }
    void Settled(const runs::HostResult& result) override
    {
        if (!request_.prometheus.isEmpty() || request_.plugin)
            results.push_back(result);
        if (counting() || request_.totals)
            report_.Settled(result);
    }
    void Read(int line, const QString& host) override { report_.Read(line, host); }
    void Sending(int line, int seq) override { report_.Sending(line, seq); }
    void Echoed(const runs::HostResult& echo, int seq) override { report_.Echoed(echo, seq); }

    // A count run's lines and -s's totals for stderr: at the end, or at an
    // ending signal, which stops the sending for good first.
    void SayReport(bool ending)
    {
        if (!counting() && !request_.totals)
            return;
        if (ending)
            report_.Freeze();
        QByteArray text = report_.Lines(console_.Terminal());
        if (request_.totals)
            text += report_.Totals(started_);
        console_.Write(text);
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

    // How far the run got, read by the thread that takes an ending signal.
    int Done() const { return done_; }
    std::optional<int> Total() const
    {
        const int total = total_;
        return total < 0 ? std::nullopt : std::optional<int>(total);
    }

    std::vector<runs::HostResult> results;  // for --prometheus and --plugin

private:
    Console& console_;
    const CommandLineRequest& request_;
    bool counting() const { return !request_.count.isEmpty() || !request_.roundTrips.isEmpty(); }

    const bool sharesTerminal_;
    const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    app::EchoReport report_;
    std::atomic<int> done_ = 0;
    std::atomic<int> total_ = -1;
};

// The manual ping's host and verdict on the command line.
struct CommandLinePing {
    // The host's bytes as single-byte text, which the resolver gets back
    // byte for byte.
    explicit CommandLinePing(const CommandLineRequest& request)
        : host(platform::fromAnsi(request.host)), timeout(platform::decodeFileName(request.timeout))
    {
    }

    QString host;
    QString timeout;
    QString verdict;
    runs::HostResult result;
};

// One echo through the batch run's pipeline, so that an IPv6 address is
// pinged as one; the verdict is the window's. The echo's status, or nothing
// when Windows Sockets did not start (the message said so).
std::optional<std::int32_t> pingOnce(CommandLinePing& ping, const CommandLineRequest& request)
{
    bool handedOut = false;
    std::optional<runs::HostResult> settled;
    runs::PipelineHosts hosts;
    hosts.nextHost = [&] { return std::exchange(handedOut, true) ? std::nullopt : std::optional<QString>(ping.host); };
    hosts.settled = [&](const runs::HostResult& result) { settled = result; };
    runs::PipelineOptions options;
    options.timeoutText = ping.timeout;
    options.addresses = addressChoice(request);
    runs::RunPipeline(hosts, options);
    if (!settled)
        return std::nullopt;
    settled->line = 0;
    ping.result = *settled;
    ping.verdict = runs::PingVerdict(ping.host,
                                     settled->address ? QString::fromStdString(settled->address->text()) : QString(),
                                     settled->status);
    return settled->status;
}

QString plural(int count, const char* noun)
{
    return QStringLiteral("%1 %2%3").arg(count).arg(noun, count == 1 ? "" : "s");
}

// What a run cut short left of its output, for the line that says why: the
// old file, where the new one was dropped or not yet begun; else what the
// run had written (unsaid after an error in a stream, which the error names).
QString outputLeft(const CommandLineBatch& controls, const CommandLineRequest& request, int dropped, bool signalled)
{
    const QByteArray output = app::OutputOf(request);
    if (output.isEmpty())
        return {};
    const QString name = outputName(output);
    const bool begun = controls.Total().has_value();
    if (dropped > 0 || (signalled && !begun))
        return QStringLiteral("; %1 was left as it was.").arg(name);
    if (begun && (signalled || (request.keepPartial && output != "-")))
        return QStringLiteral("; %1 is incomplete.").arg(name);
    return {};
}

int batchRun(Console& console, const CommandLineRequest& request, std::vector<runs::HostResult>& results)
{
    CommandLineBatch controls(console, request);
    const auto handOver = qScopeGuard([&] { results = std::move(controls.results); });
    runs::BatchTotals totals;
    {
        const platform::EndingNote interrupted([&](int, int dropped) {
            console.ClearProgress();
            runs::BatchOutput::InterruptAll();
            controls.SayReport(true);
            const std::optional<int> total = controls.Total();
            console.Say(
                (total ? QStringLiteral("interrupted after %1 of %2").arg(controls.Done()).arg(plural(*total, "host"))
                       : QStringLiteral("interrupted before the first host")) +
                outputLeft(controls, request, dropped, true));
        });
        const int droppedBefore = platform::ReplacementsDropped();
        try {
            totals = runs::PipelineBatchPing(controls.Options(), controls);
        } catch (const platform::RuntimeError& error) {
            console.ClearProgress();
            controls.SayReport(false);
            QString line = platform::ErrorReportText(error);
            if (const QString left = outputLeft(controls, request, platform::ReplacementsDropped() - droppedBefore, false);
                !left.isEmpty())
                line = line.chopped(line.endsWith('.') ? 1 : 0) + left;
            console.Say(line);
            return kFailed;
        }
    }
    console.ClearProgress();
    controls.SayReport(false);
    if (const QByteArray output = app::OutputOf(request); console.Terminal() && !request.plugin)
        console.Say(QStringLiteral("%1 pinged, %2 did not answer%3.")
                        .arg(plural(totals.pinged, "host"))
                        .arg(totals.didNotAnswer)
                        .arg(output.isEmpty() ? QString() : QStringLiteral("; the output is ") + outputName(output)));
    return totals.didNotAnswer > 0 || totals.lostSome > 0 ? kSomeHostDidNotAnswer : kEveryHostAnswered;
}

// A metrics file that is the list or the output would destroy the one or
// be overwritten by the other.
QString prometheusRefusal(const CommandLineRequest& request)
{
    if (request.prometheus.isEmpty() || request.prometheus == "-")
        return {};
    platform::Files& files = platform::use<platform::Files>();
    const std::optional<platform::FileIdentity> metrics = files.identify(platform::decodeFileName(request.prometheus));
    const std::pair<const QByteArray*, const char*> others[] = {{&request.input, "list"}, {&request.output, "output"}};
    for (const auto& [other, role] : others)
        if (metrics && !other->isEmpty() && *other != "-" && files.identify(platform::decodeFileName(*other)) == metrics)
            return QStringLiteral("--prometheus names \"%1\", which is also the run's %2.")
                .arg(platform::decodeFileName(request.prometheus), QLatin1StringView(role));
    return {};
}

// The hosts' samples of the last run that did its work, from the file it
// wrote, for a run that failed.
QByteArray keptSamples(const QString& path)
{
    if (!platform::use<platform::Files>().identify(path))
        return {};
    platform::FileSystemObject files;
    platform::TextStream stream = files.OpenTextFile(path);
    QByteArrayList lines;
    while (!stream.AtEndOfStream())
        lines.append(stream.ReadLineBytes());
    return runs::WithoutRunFamilies(lines);
}

// The metrics of a batch run, whatever its end but a signal: a failed run
// keeps the hosts' samples, so that only its own success, time and
// duration say that it failed. The exit status, 2 when they cannot be
// written.
int writePrometheus(Console& console, const CommandLineRequest& request, int status,
                    const std::vector<runs::HostResult>& hosts, std::chrono::steady_clock::time_point started)
{
    const bool success = status != kFailed;
    const bool toStandardOutput = request.prometheus == "-";
    const QString path = platform::decodeFileName(request.prometheus);
    try {
        QByteArray text = success            ? runs::PrometheusHosts(hosts)
                          : toStandardOutput ? QByteArray()
                                             : keptSamples(path);
        text += runs::PrometheusRunFamilies(
            {.success = success,
             .endedMs = QDateTime::currentMSecsSinceEpoch(),
             .durationUs = static_cast<std::uint64_t>(
                 std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count())});
        platform::FileSystemObject files;
        platform::TextStream stream = toStandardOutput ? files.CreateStandardOutput()
                                                       : files.CreateReplacementTextFile(path);
        stream.WriteBytes(text);
        stream.Close();
    } catch (const platform::RuntimeError& error) {
        console.Say(platform::ErrorReportText(error));
        return kFailed;
    }
    return status;
}

// Whether what went to standard output got there; a help text or a verdict
// lost on a full disk is a failure like any other.
bool standardOutputWritten(Console& console)
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    const int error = errno;
    console.Say(platform::ErrorReportText(platform::RuntimeError(
        error == ENOSPC ? platform::error_number::DiskFull : platform::error_number::DeviceIoError,
        QStringLiteral("\"standard output\" cannot be written: %1.").arg(QString::fromLocal8Bit(std::strerror(error))))));
    return false;
}

int manualPing(Console& console, const CommandLineRequest& request, std::vector<runs::HostResult>& results)
{
    CommandLinePing controls(request);
    const runs::RunStart start{.header = {.version = QStringLiteral("%1.%2.%3")
                                                         .arg(platform::App().Major)
                                                         .arg(platform::App().Minor)
                                                         .arg(platform::App().Revision)
                                                         .toLatin1(),
                                          .started = QDateTime::currentDateTimeUtc(),
                                          .timeoutMs = runs::TimeoutMilliseconds(controls.timeout)}};
    const std::optional<std::int32_t> status = pingOnce(controls, request);
    if (request.plugin) {
        results = {controls.result};
        return status ? kEveryHostAnswered : kFailed;
    }
    // The verdict names the host as given, which may hold a terminal's
    // commands; a file or a pipe gets its bytes as they are. JSON escapes
    // control characters itself.
    QByteArray line;
    if (request.json) {
        runs::AppendJsonHeader(start.header, line);
        if (status)
            runs::AppendJsonLine(controls.result, line);
        runs::AppendJsonEnd({.hosts = status ? 1 : 0,
                             .answered = status == 0 ? 1 : 0,
                             .elapsedUs = static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                                         std::chrono::steady_clock::now() - start.clock)
                                                                         .count()),
                             .ending = status ? runs::RunEnding::Complete : runs::RunEnding::Failed,
                             .error = status ? QByteArray() : platform::toAnsi(runs::kSocketsNotResponding)},
                            line);
    } else if (!status) {
        return kFailed;  // Windows Sockets did not start; the message said so
    } else {
        line = platform::toAnsi(controls.verdict);
        if (platform::StandardOutputIsTerminal())
            line = app::TerminalText(line);
        line += '\n';
    }
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    if (!standardOutputWritten(console) || !status)
        return kFailed;
    return *status == 0 ? kEveryHostAnswered : kSomeHostDidNotAnswer;
}

// --plugin's status line on standard output, and its state as the exit
// status: UNKNOWN for a run that failed, with the line that said why.
int pluginEnd(Console& console, const CommandLineRequest& request, int status, const std::vector<runs::HostResult>& hosts)
{
    runs::PluginCheck check;
    if (status == kFailed)
        check.line = runs::PluginUnknown(platform::encodeFileName(console.LastSaid()));
    else
        check = runs::PluginStatus(hosts, *runs::ParsePluginThreshold(request.warning),
                                   *runs::ParsePluginThreshold(request.critical));
    std::fwrite(check.line.constData(), 1, static_cast<std::size_t>(check.line.size()), stdout);
    if (!standardOutputWritten(console))
        return static_cast<int>(runs::PluginState::Unknown);
    return static_cast<int>(check.state);
}

// Whether the window has somewhere to open.
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
    // Before any thread starts (the console's is the first), so that they
    // all leave the signals to the thread that takes them.
    if (parsed.error.isEmpty() && parsed.request.action == CommandLineRequest::Action::Batch)
        platform::TakeEndingSignals();
    Console console;
    if (!parsed.error.isEmpty()) {
        console.Say(parsed.error);
        return parsed.plugin ? pluginEnd(console, parsed.request, kFailed, {}) : kFailed;
    }
    const CommandLineRequest& request = parsed.request;
    const platform::Application& app = platform::App();
    switch (request.action) {
    case CommandLineRequest::Action::Help:
        std::fputs(qPrintable(app::CommandLineHelp()), stdout);
        return standardOutputWritten(console) ? kEveryHostAnswered : kFailed;
    case CommandLineRequest::Action::Version:
        std::printf("%s %d.%d.%d\n", qPrintable(app.Title), app.Major, app.Minor, app.Revision);
        return standardOutputWritten(console) ? kEveryHostAnswered : kFailed;
    case CommandLineRequest::Action::Batch:
    case CommandLineRequest::Action::Ping: break;
    }

    QCoreApplication application(argc, argv);
    if (const QString refusal = prometheusRefusal(request); !refusal.isEmpty()) {
        console.Say(refusal);
        return kFailed;
    }
    const auto started = std::chrono::steady_clock::now();
    std::vector<runs::HostResult> results;
    const auto withMetrics = [&](int status) {
        if (request.plugin)
            return pluginEnd(console, request, status, results);
        return request.prometheus.isEmpty() ? status : writePrometheus(console, request, status, results, started);
    };
    // Every echo would fail alike: a run would report every host as down.
    if (const QString why = platform::missingIcmpRightsAdvice(); !why.isEmpty()) {
        console.Say(why);
        return withMetrics(kFailed);
    }
    ConsoleMessageBox messages(console);
    try {
        if (request.action == CommandLineRequest::Action::Batch)
            return withMetrics(batchRun(console, request, results));
        const int status = manualPing(console, request, results);
        return request.plugin ? withMetrics(status) : status;
    } catch (const platform::RuntimeError& error) {
        console.Say(platform::ErrorReportText(error));
    } catch (const std::exception& error) {
        console.Say(QStringLiteral("Internal error: ") + QString::fromLocal8Bit(error.what()));
    }
    console.ClearProgress();
    return withMetrics(kFailed);
}

std::optional<int> RunWithoutWindow(int argc, char** argv)
{
    if (argc > 1)
        return RunCommandLine(argc, argv);
    if (displayAvailable())
        return std::nullopt;
    std::fputs(
        "quorvex: there is no display to open the window on (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM "
        "are unset); without a window, use --input FILE --output FILE, HOST... or --ping HOST.\n",
        stderr);
    return kFailed;
}
