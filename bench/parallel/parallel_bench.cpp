// The command line with many echoes in flight (-P), beside fping on the
// same host file, in a private network namespace of this process: its
// loopback is the only network, and nft drops the echoes of the silent
// hosts on their way in. Every target is a 127.x.y.z address.
//
//   parallel_bench [rounds] [json]   (default 5; needs root for the namespace;
//                                    json: only --json against the text)
//
// Contenders run one after another, round by round, so that a load on the
// machine falls on all of them alike; each figure is the median over the
// rounds, each ratio the median of the rounds' ratios.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The i-th host of a list: 127.<list>.0.1 onwards, 250 to a row.
std::string host(int list, int i)
{
    return "127." + std::to_string(list) + "." + std::to_string(i / 250) + "." + std::to_string(1 + i % 250);
}

// In list 2, every tenth host is silent.
constexpr int kWithSilent = 2;
constexpr int kAnswering = 3;
bool silent(int i) { return i % 10 == 9; }

std::string writeHosts(const std::string& path, int list, int count)
{
    std::ofstream file(path);
    for (int i = 0; i < count; ++i)
        file << host(list, i) << '\n';
    return path;
}

struct Outcome {
    double seconds = 0;
    int exitStatus = -1;
    long peakKiB = 0;
    int mostDescriptors = 0;
};

int openDescriptors(pid_t pid)
{
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
         !error && it != end; it.increment(error))
        ++count;
    return count;
}

// Runs the program directly (no shell), its output to /dev/null. With
// watchDescriptors, counts its open descriptors every millisecond, which
// costs time: such runs are not timed.
Outcome run(const std::vector<std::string>& arguments, bool watchDescriptors = false)
{
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    Outcome outcome;
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return outcome;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    if (watchDescriptors) {
        while (wait4(pid, &status, WNOHANG, &usage) == 0) {
            outcome.mostDescriptors = std::max(outcome.mostDescriptors, openDescriptors(pid));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    } else {
        wait4(pid, &status, 0, &usage);
    }
    outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.peakKiB = usage.ru_maxrss;
    return outcome;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// A network namespace of this process alone, gone when it ends: loopback up,
// ICMP datagram sockets open to every group, the silent hosts' echoes
// dropped.
bool privateNetwork(int hosts)
{
    if (unshare(CLONE_NEWNET) != 0)
        return false;
    std::ofstream("/proc/sys/net/ipv4/ping_group_range") << "0 2147483647\n";
    std::string dropped;
    for (int i = 0; i < hosts; ++i)
        if (silent(i))
            dropped += (dropped.empty() ? "" : ", ") + host(kWithSilent, i);
    std::ofstream("/tmp/parallel_bench.nft")
        << "table ip bench {\n  chain input {\n    type filter hook input priority 0; policy accept;\n"
        << "    icmp type echo-request ip daddr { " << dropped << " } drop\n  }\n}\n";
    const bool ready = shell("ip link set lo up") && shell("nft -f /tmp/parallel_bench.nft");
    std::remove("/tmp/parallel_bench.nft");
    return ready;
}

void compare(const char* title, const std::vector<std::string>& quorvex, const std::vector<std::string>& fping,
             int rounds, double target)
{
    std::vector<double> ours, theirs, ratios;
    int ourStatus = -1, theirStatus = -1;
    for (int round = 0; round < rounds; ++round) {
        const Outcome a = run(quorvex);
        const Outcome b = run(fping);
        ours.push_back(a.seconds);
        theirs.push_back(b.seconds);
        ratios.push_back(a.seconds / b.seconds);
        ourStatus = a.exitStatus;
        theirStatus = b.exitStatus;
    }
    std::printf("  %s\n", title);
    std::printf("    quorvex -P %-5s %8.3f s  (exit status %d)\n", quorvex[quorvex.size() - 1].c_str(), median(ours),
                ourStatus);
    std::printf("    fping            %8.3f s  (exit status %d)\n", median(theirs), theirStatus);
    std::printf("    ratio %.2fx (target <= %.1fx)\n", median(ratios), target);
}

// --json against the text output of the same run, which for answering
// hosts writes nothing: what the objects cost.
void jsonVersusText(const std::string& program, const std::string& list, const std::string& out, int rounds)
{
    for (const char* parallel : {"1", "256"}) {
        std::vector<double> text, json, ratios;
        for (int round = 0; round < rounds; ++round) {
            const Outcome a = run({program, "-i", list, "-o", out, "-P", parallel});
            const Outcome b = run({program, "-i", list, "-o", out, "-P", parallel, "--json"});
            text.push_back(a.seconds);
            json.push_back(b.seconds);
            ratios.push_back(b.seconds / a.seconds);
        }
        std::printf("  32767 hosts, all answering, -P %s: text %.3f s, --json %.3f s, ratio %.2fx (target <= 1.1x)\n",
                    parallel, median(text), median(json), median(ratios));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    constexpr int kAll = 32767;
    if (geteuid() != 0 || !privateNetwork(1000)) {
        std::printf("parallel_bench: skipped: needs root, ip and nft for a private network namespace\n");
        return 0;
    }
    std::printf(
        "parallel_bench: %u cores, %d interleaved rounds, medians; a private network namespace where "
        "ICMP datagram sockets are allowed\n",
        std::thread::hardware_concurrency(), rounds);

    const std::string dir = std::filesystem::temp_directory_path() / ("parallel_bench." + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string some = writeHosts(dir + "/some-silent.txt", kWithSilent, 1000);
    const std::string all = writeHosts(dir + "/all-answering.txt", kAnswering, kAll);
    const std::string out = dir + "/out.txt";
    const std::string program = QUORVEX_PROGRAM;
    if (argc > 2 && std::string(argv[2]) == "json") {
        jsonVersusText(program, all, out, rounds);
        std::filesystem::remove_all(dir);
        return 0;
    }

    compare("1000 hosts, 100 of them silent, timeout 500 ms", {program, "-i", some, "-o", out, "-t", "500", "-P", "256"},
            {"fping", "-i", "0", "-r", "0", "-t", "500", "-u", "-f", some}, rounds, 1.2);
    std::ifstream written(out);
    const long lines = std::count(std::istreambuf_iterator<char>(written), {}, '\n');
    std::printf("    (quorvex listed %ld hosts that did not answer)\n", lines);

    compare("32767 hosts, all answering, timeout 500 ms", {program, "-i", all, "-o", out, "-P", "256"},
            {"fping", "-i", "0", "-r", "0", "-u", "-f", all}, rounds, 0.8);

    std::vector<double> serialKiB, parallelKiB;
    int descriptors[3] = {0, 0, 0};
    const char* const widths[3] = {"1", "64", "1024"};
    for (int round = 0; round < rounds; ++round) {
        serialKiB.push_back(run({program, "-i", all, "-o", out, "-P", "1"}).peakKiB);
        parallelKiB.push_back(run({program, "-i", all, "-o", out, "-P", "1024"}).peakKiB);
    }
    for (int i = 0; i < 3; ++i)
        descriptors[i] = run({program, "-i", all, "-o", out, "-P", widths[i]}, true).mostDescriptors;
    std::printf("  32767 hosts, peak memory: -P 1 %.0f KiB, -P 1024 %.0f KiB: %+.0f KiB (target <= +8192 KiB)\n",
                median(serialKiB), median(parallelKiB), median(parallelKiB) - median(serialKiB));
    std::printf("  32767 hosts, most descriptors open: -P 1 %d, -P 64 %d, -P 1024 %d (target: the same for all)\n",
                descriptors[0], descriptors[1], descriptors[2]);
    jsonVersusText(program, all, out, rounds);
    std::filesystem::remove_all(dir);
    return 0;
}
