// The command line with many echoes in flight (-P), beside fping on the
// same host file, in a private network namespace of this process: its
// loopback is the only network, and nft drops the echoes of the silent
// hosts on their way in. Every target is a 127.x.y.z address, or one of
// 2001:db8::/64, which the namespace's loopback answers as its own.
//
//   parallel_bench [rounds] [json|ipv6]   (default 5; needs root for the
//                                         namespace; json: only --json against
//                                         the text; ipv6: only IPv6 against
//                                         IPv4 and fping -6)
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
#include <sstream>
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
constexpr int kIpv6 = -1;
bool silent(int i) { return i % 10 == 9; }

// The i-th IPv6 host: 2001:db8::1 onwards, the last group in hex.
std::string host6(int i)
{
    std::ostringstream text;
    text << "2001:db8::" << std::hex << i + 1;
    return text.str();
}

std::string writeHosts(const std::string& path, int list, int count)
{
    std::ofstream file(path);
    for (int i = 0; i < count; ++i)
        file << (list == kIpv6 ? host6(i) : host(list, i)) << '\n';
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

// A network namespace of this process alone, gone when it ends: loopback up
// and answering 2001:db8::/64 as well, ICMP datagram sockets (of both
// families: the one sysctl governs both) open to every group, the silent
// hosts' echoes dropped.
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
    const bool ready = shell("ip link set lo up") && shell("ip -6 route add local 2001:db8::/64 dev lo") &&
                       shell("nft -f /tmp/parallel_bench.nft");
    std::remove("/tmp/parallel_bench.nft");
    return ready;
}

struct Contender {
    std::string label;
    std::vector<std::string> arguments;
    std::string written;  // its output file, whose lines are hosts that did not answer
};

// ours / theirs, by index into the contenders; a target of 0 has none.
struct Ratio {
    int ours;
    int theirs;
    double target;
};

long lines(const std::string& path)
{
    std::ifstream file(path);
    return std::count(std::istreambuf_iterator<char>(file), {}, '\n');
}

// Every round runs all contenders once, in order, so that each ratio is
// taken within a round and a load on the machine falls on both its sides.
void compare(const char* title, const std::vector<Contender>& contenders, const std::vector<Ratio>& ratios, int rounds)
{
    std::vector<std::vector<double>> seconds(contenders.size());
    std::vector<std::vector<double>> quotients(ratios.size());
    std::vector<int> statuses(contenders.size(), -1);
    std::vector<long> notAnswering(contenders.size(), 0);
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t i = 0; i < contenders.size(); ++i) {
            const Outcome outcome = run(contenders[i].arguments);
            seconds[i].push_back(outcome.seconds);
            statuses[i] = outcome.exitStatus;
            if (!contenders[i].written.empty())
                notAnswering[i] = std::max(notAnswering[i], lines(contenders[i].written));
        }
        for (std::size_t r = 0; r < ratios.size(); ++r)
            quotients[r].push_back(seconds[ratios[r].ours].back() / seconds[ratios[r].theirs].back());
    }
    std::printf("  %s\n", title);
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        std::printf("    %-22s %8.3f s  (exit status %d", contenders[i].label.c_str(), median(seconds[i]), statuses[i]);
        if (!contenders[i].written.empty())
            std::printf(", at most %ld hosts listed as not answering", notAnswering[i]);
        std::printf(")\n");
    }
    for (std::size_t r = 0; r < ratios.size(); ++r) {
        std::printf("    ratio %s / %s: %.2fx", contenders[ratios[r].ours].label.c_str(),
                    contenders[ratios[r].theirs].label.c_str(), median(quotients[r]));
        if (ratios[r].target > 0)
            std::printf(" (target <= %.1fx)", ratios[r].target);
        std::printf("\n");
    }
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

// IPv6 against IPv4 serially, and against fping -6 serially and at
// -P 1024. fping -u prints only the hosts that did not answer, as quorvex
// does, rather than a line for every host. A flood ping, one echo at a
// time, shows what the kernel's own IPv6 path costs beside its IPv4 one:
// the floor under the serial ratio, which no program on top can go below.
void compareFamilies(const std::string& program, const std::string& all, const std::string& all6,
                     const std::string& out, int rounds)
{
    compare("32767 hosts each of 2001:db8::/64 and 127.3/16, all answering, timeout 500 ms",
            {{"IPv6 quorvex -P 1", {program, "-i", all6, "-o", out + "6", "-P", "1"}, out + "6"},
             {"IPv4 quorvex -P 1", {program, "-i", all, "-o", out, "-P", "1"}, out},
             {"IPv6 fping -6", {"fping", "-6", "-i", "0", "-r", "0", "-u", "-f", all6}, {}},
             {"IPv6 quorvex -P 1024", {program, "-i", all6, "-o", out + "6", "-P", "1024"}, out + "6"},
             {"IPv6 ping -f", {"ping", "-f", "-q", "-c", "32767", host6(0)}, {}},
             {"IPv4 ping -f", {"ping", "-f", "-q", "-c", "32767", host(kAnswering, 0)}, {}}},
            {{0, 1, 1.1}, {0, 2, 0}, {3, 2, 0.5}, {4, 5, 0}}, rounds);
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string mode = argc > 2 ? argv[2] : "";
    constexpr int kAll = 32767;
    if (geteuid() != 0) {
        std::printf("parallel_bench: skipped: needs root for a private network namespace\n");
        return 0;
    }
    if (!shell("command -v fping >/dev/null && command -v ping >/dev/null")) {
        std::printf(
            "parallel_bench: skipped: needs fping and ping to compare with (apt-get install fping iputils-ping)\n");
        return 0;
    }
    if (!privateNetwork(1000)) {
        std::printf("parallel_bench: skipped: needs ip, nft and IPv6 for a private network namespace\n");
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
    const std::string all6 = writeHosts(dir + "/all-answering-ipv6.txt", kIpv6, kAll);
    const std::string out = dir + "/out.txt";
    const std::string program = QUORVEX_PROGRAM;
    if (mode == "json") {
        jsonVersusText(program, all, out, rounds);
        std::filesystem::remove_all(dir);
        return 0;
    }

    if (mode == "ipv6") {
        compareFamilies(program, all, all6, out, rounds);
        std::filesystem::remove_all(dir);
        return 0;
    }

    compare("1000 hosts, 100 of them silent, timeout 500 ms",
            {{"quorvex -P 256", {program, "-i", some, "-o", out, "-t", "500", "-P", "256"}, out},
             {"fping", {"fping", "-i", "0", "-r", "0", "-t", "500", "-u", "-f", some}, {}}},
            {{0, 1, 1.2}}, rounds);

    compare("32767 hosts, all answering, timeout 500 ms",
            {{"quorvex -P 256", {program, "-i", all, "-o", out, "-P", "256"}, out},
             {"fping", {"fping", "-i", "0", "-r", "0", "-u", "-f", all}, {}}},
            {{0, 1, 0.8}}, rounds);

    compareFamilies(program, all, all6, out, rounds);

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
