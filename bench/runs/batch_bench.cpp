// A batch run as the operator starts it, through the real main window and
// cmdStart_Click, next to the least a program can do for the same echoes
// and next to fping on the same host file. Targets are 127.x.y.z only.
//
//   batch_bench [hosts]      (default 32767)
//
// It runs on the platform QT_QPA_PLATFORM names (offscreen when unset);
// run-batch-bench runs it offscreen and again under Xvfb with
// accessibility on.

#include "support/reference_echo.h"

#include "platform/forms/form.h"
#include "platform/forms/gui_application.h"
#include "platform/net/icmp_socket.h"
#include "runs/connect.h"
#include "ui/main_form.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/wait.h>

namespace {

using namespace bench;

// A figure of this process from /proc/self/status, in KiB.
long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + key.size());
    return -1;
}

// From here on, the peak resident size counts again from the current one.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv)
{
    const int hosts = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 32767) : 32767;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const auto socket = platform::icmp::EchoSocket::open();
    if (!socket) {
        std::printf("batch_bench: no ICMP socket may be opened here (needs root or net.ipv4.ping_group_range)\n");
        return 0;
    }
    const int type = socket->kind() == platform::icmp::SocketKind::Raw ? SOCK_RAW : SOCK_DGRAM;

    QTemporaryDir dir;
    const QString input = dir.filePath("hosts.txt");
    const QString output = dir.filePath("out.txt");
    {
        QFile file(input);
        file.open(QIODevice::WriteOnly);
        for (int i = 0; i < hosts; ++i)
            file.write((dotted(loopbackAddress(i)) + "\r\n").toLatin1());
    }

    platform::GuiApplication app(argc, argv);
    runs::ConnectToMainForm();
    ui::mainFrm().Show();
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    ui::mainFrm().txtInput->setText(input);
    ui::mainFrm().txtOutput->setText(output);
    ui::mainFrm().txtPingtimeout->setText("1000");

    const QString fping = QStandardPaths::findExecutable("fping", {"/usr/bin", "/usr/sbin", "/bin", "/sbin"});
    const std::string fpingCommand = "fping -i 0 -r 0 -q -u -f '" + input.toStdString() + "' >/dev/null 2>&1";
    const std::string commandLine = "'" QUORVEX_PROGRAM "' -i '" + input.toStdString() + "' -o '" +
                                    dir.filePath("cli.txt").toStdString() + "' -t 1000";

    // Every contender runs twice, interleaved, and its better round counts:
    // the machine is shared, and the first round warms caches.
    Clock::duration best[4] = {Clock::duration::max(), Clock::duration::max(), Clock::duration::max(),
                               Clock::duration::max()};
    int commandLineStatus = 0;
    long idleKiB = 0;
    long peakKiB = 0;
    int referenceFailures = 0;
    for (int round = 0; round < 2; ++round) {
        idleKiB = statusKiB("VmRSS");
        resetPeak();
        auto start = Clock::now();
        ui::mainFrm().cmdStart->click();
        best[0] = std::min(best[0], Clock::now() - start);
        peakKiB = std::max(peakKiB, statusKiB("VmHWM"));

        start = Clock::now();
        for (int i = 0; i < hosts; ++i)
            referenceFailures += !referenceEcho(type, loopbackAddress(i), static_cast<std::uint16_t>(i));
        best[1] = std::min(best[1], Clock::now() - start);

        if (!fping.isEmpty()) {
            start = Clock::now();
            if (std::system(fpingCommand.c_str()) != 0)
                std::printf("batch_bench: fping reported hosts that did not answer\n");
            best[2] = std::min(best[2], Clock::now() - start);
        }

        start = Clock::now();
        commandLineStatus = std::system(commandLine.c_str());
        best[3] = std::min(best[3], Clock::now() - start);
    }

    const double run = seconds(best[0]);
    std::printf("batch_bench: %d distinct 127.x.y.z hosts, %s socket, platform %s%s\n", hosts,
                type == SOCK_RAW ? "raw" : "datagram", qPrintable(QGuiApplication::platformName()),
                qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON") ? ", accessibility on" : "");
    std::printf("  cmdStart_Click:  %7.3f s  %7.2f us/host  (output file %lld bytes, progress %.0f of %.0f)\n", run,
                run * 1e6 / hosts, static_cast<long long>(QFileInfo(output).size()),
                static_cast<double>(ui::mainFrm().ProgressBar1->Value()),
                static_cast<double>(ui::mainFrm().ProgressBar1->Max()));
    std::printf("  reference loop:  %7.3f s  %7.2f us/host  (%d failed)   ratio %.2fx (target <= 1.30x)\n",
                seconds(best[1]), seconds(best[1]) * 1e6 / hosts, referenceFailures / 2, run / seconds(best[1]));
    if (fping.isEmpty())
        std::printf("  fping:           not installed (apt-get install fping)\n");
    else
        std::printf("  fping -i 0 -r 0: %7.3f s  %7.2f us/host                ratio %.2fx (target <= 1.30x)\n",
                    seconds(best[2]), seconds(best[2]) * 1e6 / hosts, run / seconds(best[2]));
    std::printf("  quorvex -i -o:   %7.3f s  %7.2f us/host  (exit status %d)", seconds(best[3]),
                seconds(best[3]) * 1e6 / hosts, WEXITSTATUS(commandLineStatus));
    if (!fping.isEmpty())
        std::printf("    ratio to fping %.2fx (target <= 1.20x)", seconds(best[3]) / seconds(best[2]));
    std::printf("\n");
    std::printf("  memory: idle window %ld KiB, peak during the run %ld KiB: +%ld KiB (target <= +2048 KiB)\n",
                idleKiB, peakKiB, peakKiB - idleKiB);
    platform::DestroyAllForms();
    return 0;
}
