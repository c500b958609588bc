#include "runs/batch_file_ping.h"

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
BatchTotals BatchFilePing(BatchControls& controls, int parallel)
{
    controls.SetStatusText(QStringLiteral("Running ping sequence..."));
    controls.SetProgressValue(0.0f);
    platform::FileSystemObject fileSystem;
    HostList hosts(fileSystem, controls.InputFile());
    std::optional<BatchOutput> output;
    if (!controls.ListBeforeOutput())
        output.emplace(fileSystem, controls.OutputFile(), controls.Format());

    const std::int16_t counted = hosts.Count(controls.ListBeforeOutput());
    if (hosts.cutShort())
        controls.ListCutShort(*hosts.cutShort());
    if (!output)
        output.emplace(fileSystem, controls.OutputFile(), controls.Format());
    hosts.StartPingPass();
    controls.SetProgressMax(static_cast<float>(counted));

    const auto settled = [&](const HostResult& result) {
        if (output->TakesLine(result))
            output->Hold(result);
    };
    const auto written = [&] {
        if (!output->Holding())
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
        output->Close();
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
    output->Close();
    totals.didNotAnswer = output->DidNotAnswer();
    return totals;
}

}  // namespace runs
