#include "runs/batch_file_ping.h"

#include "platform/app.h"
#include "platform/error_report.h"
#include "platform/files/file_system_object.h"
#include "platform/msgbox.h"
#include "platform/net/network.h"
#include "probe/send_echo.h"
#include "probe/sockets.h"
#include "runs/batch_output.h"
#include "runs/parallel_batch.h"
#include "runs/ping_texts.h"
#include "runs/timeout.h"

#include <cstdint>
#include <optional>

namespace runs {

namespace {

// For a JSON stream's header; taken before the list is read, so that the
// trailer's elapsed time is the whole run's.
RunStart startOf(BatchControls& controls, int parallel)
{
    RunStart start;
    if (controls.Format() != OutputFormat::JsonLines)
        return start;
    const platform::Application& app = platform::App();
    start.header = {.version = QStringLiteral("%1.%2.%3").arg(app.Major).arg(app.Minor).arg(app.Revision).toLatin1(),
                    .started = QDateTime::currentDateTimeUtc(),
                    .timeoutMs = TimeoutMilliseconds(controls.TimeoutText()),
                    .retries = controls.Retries(),
                    .parallel = parallel};
    return start;
}

// The JSON trailer is a line of the output like any other.
void closeOutput(BatchControls& controls, BatchOutput& output)
{
    controls.BeforeOutputLine();
    output.Close();
    controls.AfterOutputLine();
}

BatchTotals pingAll(BatchControls& controls, int parallel, platform::FileSystemObject& fileSystem, HostList& hosts,
                    std::optional<BatchOutput>& output, const RunStart& start)
{
    if (!controls.ListBeforeOutput())
        output.emplace(fileSystem, controls.OutputFile(), controls.Format(), start);

    const std::int16_t counted = hosts.Count(controls.ListBeforeOutput());
    if (hosts.cutShort())
        controls.ListCutShort(*hosts.cutShort());
    if (!output)
        output.emplace(fileSystem, controls.OutputFile(), controls.Format(), start);
    hosts.StartPingPass();
    controls.SetProgressMax(static_cast<float>(counted));

    const auto settled = [&](const HostResult& result) {
        controls.Settled(result);
        if (output->TakesLine(result))
            output->Hold(result);
    };
    const auto written = [&] {
        if (!output->FlushDue())
            return;
        controls.BeforeOutputLine();
        output->Flush();
        controls.AfterOutputLine();
    };
    BatchTotals totals;
    if (parallel > 1) {
        totals.pinged = ParallelBatchPing({.nextHost = [&] { return hosts.NextHost(); },
                                           .settled = settled,
                                           .written = written,
                                           .timeoutText = [&] { return controls.TimeoutText(); },
                                           .progress =
                                               [&](int settled, const QString& host) {
                                                   controls.SetProgressValue(static_cast<float>(settled));
                                                   controls.HostStarting(host);
                                               },
                                           .retries = controls.Retries()},
                                          parallel);
        hosts.Close();
        closeOutput(controls, *output);
        totals.didNotAnswer = output->DidNotAnswer();
        return totals;
    }

    EchoReply reply{};
    const int retries = controls.Retries();
    int line = 0;
    while (const std::optional<QString> host = hosts.NextHost()) {
        ++line;
        controls.HostStarting(*host);
        if (!StartSockets()) {
            platform::MsgBox(kSocketsNotResponding);
            continue;
        }
        const QString address = ResolveHostName(*host);
        const std::int32_t timeout = TimeoutMilliseconds(controls.TimeoutText());
        std::int32_t status = SendEcho(address, kRequestData, reply, timeout);
        for (int retry = 0; retry < retries && status == platform::IP_REQ_TIMED_OUT; ++retry)
            status = SendEcho(address, kRequestData, reply, timeout);
        settled(ResultOf(line, *host, address, status, &reply));
        written();
        StopSockets();
        controls.SetProgressValue(controls.ProgressValue() + 1.0f);
        ++totals.pinged;
    }
    hosts.Close();
    closeOutput(controls, *output);
    totals.didNotAnswer = output->DidNotAnswer();
    return totals;
}

}  // namespace

BatchTotals BatchFilePing(BatchControls& controls, int parallel)
{
    controls.SetStatusText(QStringLiteral("Running ping sequence..."));
    controls.SetProgressValue(0.0f);
    const RunStart start = startOf(controls, parallel);
    platform::FileSystemObject fileSystem;
    HostList hosts(fileSystem, controls.InputFile());
    std::optional<BatchOutput> output;
    try {
        return pingAll(controls, parallel, fileSystem, hosts, output, start);
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

}  // namespace runs
