#include "runs/batch_file_ping.h"

#include "platform/files/file_system_object.h"
#include "platform/forms/msgbox.h"
#include "platform/runtime_error.h"
#include "probe/echo_status_text.h"
#include "probe/send_echo.h"
#include "probe/sockets.h"
#include "runs/parallel_batch.h"
#include "runs/ping_texts.h"
#include "runs/timeout.h"
#include "ui/main_form.h"

#include <cstdint>
#include <limits>

namespace runs {
namespace {

// Spaces only: a tab beside a name is part of it.
QString TrimSpaces(const QString& line)
{
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end && line[begin] == u' ')
        ++begin;
    while (end > begin && line[end - 1] == u' ')
        --end;
    return line.sliced(begin, end - begin);
}

// The hosts up to the first empty line; the counter is 16 bits wide.
std::int16_t CountHosts(platform::TextStream& input)
{
    std::int16_t counter = 0;
    while (!input.AtEndOfLine()) {
        if (counter == std::numeric_limits<std::int16_t>::max())
            throw platform::RuntimeError(platform::error_number::Overflow,
                                         QStringLiteral("\"%1\" lists more than 32767 hosts before its first empty "
                                                        "line.")
                                             .arg(input.Path()));
        ++counter;
        input.ReadLine();
    }
    return counter;
}

class MainFormControls final : public BatchControls {
public:
    QString InputPath() override { return ui::mainFrm().txtInput->text(); }
    QString OutputPath() override { return ui::mainFrm().txtOutput->text(); }
    QString TimeoutText() override { return ui::mainFrm().txtPingtimeout->text(); }
    void SetStatusText(const QString& text) override { ui::mainFrm().StatusBar->setSimpleText(text); }
    float ProgressValue() override { return ui::mainFrm().ProgressBar1->Value(); }
    void SetProgressValue(float value) override { ui::mainFrm().ProgressBar1->setValue(value); }
    void SetProgressMax(float max) override { ui::mainFrm().ProgressBar1->setMax(max); }
};

}  // namespace

int BatchFilePing(BatchControls& controls, int parallel)
{
    controls.SetStatusText(QStringLiteral("Running ping sequence..."));
    controls.SetProgressValue(0.0f);
    platform::FileSystemObject fileSystem;
    platform::TextStream input = fileSystem.OpenTextFile(controls.InputPath(), platform::ForReading);
    platform::TextStream output = fileSystem.CreateTextFile(controls.OutputPath(), true);

    const std::int16_t hosts = CountHosts(input);
    input.Close();
    input = fileSystem.OpenTextFile(controls.InputPath(), platform::ForReading);
    controls.SetProgressMax(static_cast<float>(hosts));

    if (parallel > 1) {
        const int lines = ParallelBatchPing(
            {.nextHost = [&]() -> std::optional<QString> {
                 if (input.AtEndOfLine())
                     return std::nullopt;
                 return TrimSpaces(input.ReadLine());
             },
             .writeLine = [&](const QString& line) { output.WriteLine(line); },
             .timeoutText = [&] { return controls.TimeoutText(); },
             .progress =
                 [&](int settled, const QString& host) {
                     controls.SetProgressValue(static_cast<float>(settled));
                     controls.HostStarting(host);
                 }},
            parallel);
        input.Close();
        output.Close();
        return lines;
    }

    EchoReply reply{};
    int silentHosts = 0;
    while (!input.AtEndOfLine()) {
        const QString host = TrimSpaces(input.ReadLine());
        controls.HostStarting(host);
        if (!StartSockets()) {
            platform::MsgBox(kSocketsNotResponding);
            continue;
        }
        const QString address = ResolveHostName(host);
        const std::int32_t timeout = TimeoutMilliseconds(controls.TimeoutText());
        const std::int32_t status = SendEcho(address, kRequestData, reply, timeout);
        if (status != 0) {
            output.WriteLine(host + QStringLiteral(" - ") + EchoStatusText(status));
            ++silentHosts;
        }
        StopSockets();
        controls.SetProgressValue(controls.ProgressValue() + 1.0f);
    }
    input.Close();
    output.Close();
    return silentHosts;
}

void cmdStart_Click()
{
    MainFormControls controls;
    BatchFilePing(controls);
}

}  // namespace runs
