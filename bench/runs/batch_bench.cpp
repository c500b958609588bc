// A batch run as the operator starts it, through the real main window and
// cmdStart_Click, and as the command line as a process of its own, next to
// the least a program can do for the same echoes (a fresh socket per echo,
// and the floor: one kept socket, one send and one receive per host) and
// next to fping on the same host file. Targets are 127.x.y.z only.
//
//   batch_bench [hosts [rounds]]      (default 32767 hosts, 5 rounds)
//
// The contenders take turns within every round, and each figure is the
// median over the rounds, each ratio the median of the rounds' ratios, so
// that one lucky or unlucky round carries nothing. It runs on the platform
// QT_QPA_PLATFORM names (offscreen when unset); run-batch-bench runs it
// offscreen and under Xvfb with accessibility on, for each socket kind.

#include "support/reference_echo.h"

#include "platform/forms/form.h"
#include "platform/forms/gui_application.h"
#include "icmp/echo_socket.h"
#include "ui/main_form.h"
#include "ui/run_handlers.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <ranges>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Starts a program directly, not through a shell, with its output to
// /dev/null or to a file; returns its exit status.
int run(const std::vector<std::string>& command, const char* output = "/dev/null")
{
    std::vector<char*> argv;
    for (const auto& word : command)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    int status = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void writeHosts(const QString& path, int hosts)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    for (int i = 0; i < hosts; ++i)
        file.write((dotted(loopbackAddress(i)) + "\r\n").toLatin1());
}

// System calls of a command line run, by name, and in all, from strace -c.
struct SystemCalls {
    long total = 0;
    long sendto = 0, recvmsg = 0, poll = 0, socket = 0;
};

SystemCalls countSystemCalls(const QTemporaryDir& dir, int hosts)
{
    const QString input = dir.filePath("strace-hosts.txt");
    const QString report = dir.filePath("strace.txt");
    writeHosts(input, hosts);
    run({"strace", "-f", "-c", "-o", report.toStdString(), QUORVEX_PROGRAM, "-i", input.toStdString(), "-o",
         dir.filePath("strace-out.txt").toStdString(), "-t", "1000"});
    SystemCalls calls;
    std::ifstream lines(report.toStdString());
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<std::string> word{std::istream_iterator<std::string>(words), {}};
        if (word.size() < 5 || word[0].find_first_not_of("0123456789.") != std::string::npos)
            continue;
        const long count = std::atol(word[3].c_str());
        const std::string& name = word.back();
        if (name == "total")
            calls.total = count;
        else if (name == "sendto")
            calls.sendto = count;
        else if (name == "recvmsg" || name == "recvfrom")
            calls.recvmsg += count;
        else if (name == "poll" || name == "ppoll")
            calls.poll += count;
        else if (name == "socket")
            calls.socket = count;
    }
    return calls;
}

}  // namespace

int main(int argc, char** argv)
{
    const int hosts = argc > 1 ? std::clamp(std::atoi(argv[1]), 1, 32767) : 32767;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const auto socket = icmp::EchoSocket::open();
    if (!socket) {
        std::printf("batch_bench: no ICMP socket may be opened here (needs root or net.ipv4.ping_group_range)\n");
        return 0;
    }
    const int type = socket->kind() == icmp::SocketKind::Raw ? SOCK_RAW : SOCK_DGRAM;

    QTemporaryDir dir;
    const QString input = dir.filePath("hosts.txt");
    const QString output = dir.filePath("out.txt");
    writeHosts(input, hosts);

    platform::GuiApplication app(argc, argv);
    ui::ConnectRunsToMainForm();
    ui::mainFrm().Show();
    for (int i = 0; i < 20; ++i)
        QApplication::processEvents();
    ui::mainFrm().txtInput->setText(input);
    ui::mainFrm().txtOutput->setText(output);
    ui::mainFrm().txtPingtimeout->setText("1000");

    const bool haveFping =
        !QStandardPaths::findExecutable("fping", {"/usr/bin", "/usr/sbin", "/bin", "/sbin"}).isEmpty();
    const std::vector<std::string> fping{"fping", "-i", "0", "-r", "0", "-q", "-u", "-f", input.toStdString()};
    const std::vector<std::string> commandLine{
        QUORVEX_PROGRAM, "-i", input.toStdString(), "-o", dir.filePath("cli.txt").toStdString(), "-t", "1000"};

    enum { Window, CommandLine, Reference, Floor, Fping, Contenders };
    const char* names[Contenders] = {"cmdStart_Click", "quorvex -i -o", "reference loop", "floor", "fping -i 0 -r 0"};
    std::array<std::vector<double>, Contenders> times;
    std::array<std::vector<double>, Contenders> ratios;
    int commandLineStatus = 0;
    int fpingStatus = 0;
    int failures = 0;
    long idleKiB = 0;
    long growthKiB = 0;
    for (int round = 0; round < rounds; ++round) {
        double took[Contenders] = {};
        // Each round starts with another contender, so that none always
        // follows the same one.
        for (int turn = 0; turn < Contenders; ++turn) {
            const int contender = (turn + round) % Contenders;
            const auto start = Clock::now();
            switch (contender) {
            case Window:
                idleKiB = statusKiB("VmRSS");
                resetPeak();
                ui::mainFrm().cmdStart->click();
                growthKiB = std::max(growthKiB, statusKiB("VmHWM") - idleKiB);
                break;
            case CommandLine: commandLineStatus = run(commandLine); break;
            case Reference:
                for (int i = 0; i < hosts; ++i)
                    failures += !referenceEcho(type, loopbackAddress(i), static_cast<std::uint16_t>(i));
                break;
            case Floor:
                // A socket of its own for each loop: a raw socket kept
                // between loops would fill up with the other contenders'
                // traffic.
                for (FloorLoop floor(type); int i : std::views::iota(0, hosts))
                    failures += !floor.echo(loopbackAddress(i), static_cast<std::uint16_t>(i));
                break;
            case Fping:
                if (haveFping)
                    fpingStatus = run(fping);
                break;
            }
            took[contender] = seconds(Clock::now() - start);
        }
        for (int c = 0; c < Contenders; ++c) {
            times[c].push_back(took[c]);
            if (haveFping)
                ratios[c].push_back(took[c] / took[Fping]);
        }
    }

    std::printf("batch_bench: %d distinct 127.x.y.z hosts, %s socket, platform %s%s, %u cores, %d rounds\n", hosts,
                type == SOCK_RAW ? "raw" : "datagram", qPrintable(QGuiApplication::platformName()),
                qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON") ? ", accessibility on" : "",
                std::thread::hardware_concurrency(), rounds);
    for (int c = 0; c < Contenders; ++c) {
        if (c == Fping && !haveFping) {
            std::printf("  %-16s not installed (apt-get install fping)\n", names[c]);
            continue;
        }
        const double t = median(times[c]);
        std::printf("  %-16s %7.3f s  %6.2f us/host", names[c], t, t * 1e6 / hosts);
        if (haveFping && c != Fping)
            std::printf("   median ratio to fping %.2fx%s", median(ratios[c]),
                        c == Window || c == CommandLine ? " (target <= 0.6x)" : "");
        std::printf("\n");
    }
    if (haveFping)
        // The two ways to a batch run on one line, so that a regression of
        // either shows beside the other, and the floor as the most any
        // program could win here.
        std::printf(
            "  side by side: window %.2fx, command line %.2fx fping (target <= 0.6x each; the floor %.2fx), "
            "medians of %d interleaved rounds, %u cores\n",
            median(ratios[Window]), median(ratios[CommandLine]), median(ratios[Floor]), rounds,
            std::thread::hardware_concurrency());
    std::printf(
        "  window: output file %lld bytes, progress %.0f of %.0f; command line exit %d; fping exit %d; "
        "%d loop echoes failed\n",
        static_cast<long long>(QFileInfo(output).size()), static_cast<double>(ui::mainFrm().ProgressBar1->Value()),
        static_cast<double>(ui::mainFrm().ProgressBar1->Max()), commandLineStatus, fpingStatus, failures);
    std::printf("  memory: idle window %ld KiB, largest rise to the peak of a run +%ld KiB (target <= +2048 KiB)\n",
                idleKiB, growthKiB);
    if (!QStandardPaths::findExecutable("strace").isEmpty()) {
        // The difference between a long and a one-host run is what the hosts cost.
        const int counted = std::min(hosts, 5000);
        const SystemCalls many = countSystemCalls(dir, counted);
        const SystemCalls one = countSystemCalls(dir, 1);
        const double per = counted > 1 ? 1.0 / (counted - 1) : 1.0;
        std::printf(
            "  system calls per host (quorvex -i -o, strace -c over %d hosts): %.2f in all (target <= 2): "
            "sendto %.2f, recvmsg %.2f, poll %.2f, socket %.2f\n",
            counted, (many.total - one.total) * per, (many.sendto - one.sendto) * per,
            (many.recvmsg - one.recvmsg) * per, (many.poll - one.poll) * per, (many.socket - one.socket) * per);
    } else {
        std::printf("  system calls: strace not installed\n");
    }
    platform::DestroyAllForms();
    return 0;
}
