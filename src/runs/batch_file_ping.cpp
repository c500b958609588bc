#include "runs/batch_file_ping.h"

#include "platform/app.h"
#include "platform/error_report.h"
#include "platform/files/file_system_object.h"
#include "platform/msgbox.h"
#include "platform/net/network.h"
#include "probe/send_echo.h"
#include "probe/sockets.h"
#include "runs/batch_output.h"
#include "runs/ping_texts.h"
#include "runs/resolver_pool.h"
#include "runs/timeout.h"

#include <cstdint>
#include <functional>
#include <optional>

namespace runs {

namespace {

// Where the two runs differ around their hosts.
struct Frame {
    BatchFile input;
    BatchFile output;
    OutputFormat format = OutputFormat::Text;
    bool listBeforeOutput = false;
    HostList::HostRefusal refusal;
    const GivenHosts* given = nullptr;  // in place of the input
    std::optional<OutputFormat> shown;
    RunStart start;
    CountOutput count;
    std::function<void(const HostList::CutShort&)> cutShort;
    std::function<void(int)> counted;
    std::function<void(const HostResult&)> settled;
    std::function<void()> beforeLine;
    std::function<void()> afterLine;
};

// The hosts' part of a run: hands every host's result to `settled` and
// calls `written` once those that settled together are handed over;
// returns how many hosts were pinged. `output` is for a count run's echoes.
using NextHost = std::function<std::optional<QString>()>;
using PingHosts = std::function<int(const NextHost& nextHost, const std::function<void(const HostResult&)>& settled,
                                    const std::function<void()>& written, BatchOutput& output)>;

void aroundLine(const Frame& frame, const std::function<void()>& write)
{
    if (frame.beforeLine)
        frame.beforeLine();
    write();
    if (frame.afterLine)
        frame.afterLine();
}

BatchTotals pingAll(const Frame& frame, const PingHosts& pingHosts, platform::FileSystemObject& fileSystem,
                    HostList* hosts, std::optional<BatchOutput>& output, std::optional<BatchOutput>& shown)
{
    if (!frame.listBeforeOutput)
        output.emplace(fileSystem, frame.output, frame.format, frame.start, frame.count);

    const int counted = hosts ? hosts->Count(frame.listBeforeOutput, frame.refusal) : frame.given->count;
    if (hosts && hosts->cutShort() && frame.cutShort)
        frame.cutShort(*hosts->cutShort());
    if (!output)
        output.emplace(fileSystem, frame.output, frame.format, frame.start, frame.count);
    if (frame.shown)
        shown.emplace(fileSystem, BatchFile{QString(), true}, *frame.shown);
    if (hosts)
        hosts->StartPingPass();
    frame.counted(counted);

    const auto settled = [&](const HostResult& result) {
        if (frame.settled)
            frame.settled(result);
        if (output->TakesLine(result))
            output->Hold(result);
        if (shown && shown->TakesLine(result))
            shown->Hold(result);
    };
    const auto written = [&] {
        if (output->FlushDue() || (shown && shown->FlushDue()))
            aroundLine(frame, [&] {
                output->Flush();
                if (shown)
                    shown->Flush();
            });
    };
    BatchTotals totals;
    totals.pinged = pingHosts(hosts ? NextHost([hosts] { return hosts->NextHost(); }) : frame.given->next, settled,
                              written, *output);
    if (hosts)
        hosts->Close();
    // The JSON trailer is a line of the output like any other.
    aroundLine(frame, [&] {
        output->Close();
        if (shown)
            shown->Close();
    });
    totals.didNotAnswer = output->DidNotAnswer();
    totals.lostSome = output->LostSome();
    return totals;
}

BatchTotals runFrame(const Frame& frame, const PingHosts& pingHosts)
{
    platform::FileSystemObject fileSystem;
    std::optional<HostList> hosts;
    if (!frame.given)
        hosts.emplace(fileSystem, frame.input);
    std::optional<BatchOutput> output;
    std::optional<BatchOutput> shown;
    try {
        return pingAll(frame, pingHosts, fileSystem, hosts ? &*hosts : nullptr, output, shown);
    } catch (const platform::RuntimeError& error) {
        if (output)
            output->Fail(platform::ErrorReportText(error));
        throw;
    } catch (const std::exception& error) {
        if (output)
            output->Fail(QStringLiteral("Internal error: ") + QString::fromLocal8Bit(error.what()));
        throw;
    }
}

}  // namespace

BatchTotals BatchFilePing(BatchControls& controls)
{
    controls.SetStatusText(QStringLiteral("Running ping sequence..."));
    controls.SetProgressValue(0.0f);
    Frame frame;
    frame.input = controls.InputFile();
    frame.output = controls.OutputFile();
    frame.counted = [&](int hosts) { controls.SetProgressMax(static_cast<float>(hosts)); };
    return runFrame(frame, [&](const NextHost& nextHost, const auto& settled, const auto& written, BatchOutput&) {
        EchoReply reply{};
        int line = 0;
        int pinged = 0;
        while (const std::optional<QString> host = nextHost()) {
            ++line;
            if (!StartSockets()) {
                platform::MsgBox(kSocketsNotResponding);
                continue;
            }
            const QString address = ResolveHostName(*host);
            const std::int32_t timeout = TimeoutMilliseconds(controls.TimeoutText());
            const std::int32_t status = SendEcho(address, kRequestData, reply, timeout);
            settled(ResultOf(line, *host, address, status, &reply));
            written();
            StopSockets();
            controls.SetProgressValue(controls.ProgressValue() + 1.0f);
            ++pinged;
        }
        return pinged;
    });
}

BatchTotals PipelineBatchPing(const BatchOptions& options, BatchEvents& events)
{
    Frame frame;
    frame.input = options.input;
    frame.output = options.output;
    frame.format = options.format;
    frame.listBeforeOutput = true;
    frame.refusal = LinkLocalRefusal;
    frame.given = options.given ? &*options.given : nullptr;
    frame.shown = options.shown;
    // Taken before the list is read, so that the trailer's elapsed time is
    // the whole run's.
    if (options.format == OutputFormat::JsonLines) {
        const platform::Application& app = platform::App();
        frame.start.header = {.version =
                                  QStringLiteral("%1.%2.%3").arg(app.Major).arg(app.Minor).arg(app.Revision).toLatin1(),
                              .started = QDateTime::currentDateTimeUtc(),
                              .timeoutMs = TimeoutMilliseconds(options.pipeline.timeoutText),
                              .retries = options.pipeline.retries,
                              .parallel = options.pipeline.parallel,
                              .count = options.pipeline.count,
                              .intervalMs = options.pipeline.intervalMs};
    }
    frame.count = options.count;
    frame.cutShort = [&](const HostList::CutShort& cut) { events.ListCutShort(cut); };
    frame.counted = [&](int hosts) { events.Counted(hosts); };
    frame.settled = [&](const HostResult& result) { events.Settled(result); };
    frame.beforeLine = [&] { events.BeforeOutputLine(); };
    frame.afterLine = [&] { events.AfterOutputLine(); };
    const bool counting = options.pipeline.count > 0;
    return runFrame(frame, [&](const NextHost& nextHost, const auto& settled, const auto& written, BatchOutput& output) {
        PipelineHosts pipelineHosts{.nextHost = nextHost,
                                    .settled = settled,
                                    .written = written,
                                    .progress = [&](int done, const QString& host) { events.Progress(done, host); }};
        // A run without them makes no record of an echo but its host's.
        if (counting || options.echoEvents) {
            pipelineHosts.read = [&](int line, const QString& host) { events.Read(line, host); };
            pipelineHosts.sending = [&](int line, int seq) { events.Sending(line, seq); };
            pipelineHosts.echoed = [&](const HostResult& echo, int seq) {
                events.Echoed(echo, seq);
                if (counting)
                    output.HoldEcho(echo, seq);
            };
        }
        return RunPipeline(pipelineHosts, options.pipeline);
    });
}

}  // namespace runs
