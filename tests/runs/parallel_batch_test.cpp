// The parallel batch run over the fake network, whose echoes take time on
// the fake's own clock and settle out of order.

#include "platform/runtime_error.h"
#include "runs/batch_file_ping.h"
#include "runs/parallel_batch.h"
#include "support/fake_network.h"
#include "support/memory_files.h"
#include "support/recording_msgbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <mutex>
#include <random>
#include <set>

namespace {

// Name, address, status, and how long an answer or an error takes (a host
// that times out takes the timeout).
const struct {
    const char* name;
    FakeNetwork::Address address;
    std::int32_t status;
    std::uint32_t ms;
} kHosts[] = {
    {"silent", {192, 0, 2, 1}, 11010, 0},        {"quiet", {192, 0, 2, 2}, 11010, 0},
    {"answering", {192, 0, 2, 10}, 0, 1},        {"unreachable", {192, 0, 2, 20}, 11003, 3},
    {"refused", {192, 0, 2, 30}, 11005, 2},      {"slow", {192, 0, 2, 40}, 0, 7},
};

void script(FakeNetwork& network)
{
    for (const auto& host : kHosts) {
        network.hosts[host.name] = {host.address};
        const std::string dotted = QStringLiteral("%1.%2.%3.%4")
                                       .arg(host.address[0]).arg(host.address[1]).arg(host.address[2])
                                       .arg(host.address[3]).toStdString();
        network.statusOf[dotted] = host.status;
        network.latencyOf[dotted] = host.ms;
    }
    network.echoesTakeTime = true;
}

std::string line(const char* host, const char* status, int ms)
{
    return std::string(host) + " - " + status + " @" + std::to_string(ms);
}
const char* const kTimedOut = "11010   [ ip req timed out ]";
const char* const kHostUnreachable = "11003   [ ip dest host unreachable ]";
const char* const kPortUnreachable = "11005   [ ip dest port unreachable ]";
const char* const kBadAddress = "-1   [ inet_addr: bad IP format ]";

// Each line with the time on the fake's clock at which it was written: the
// time the last of the hosts up to it settled, and no later.
TEST(ParallelBatch, EachLineIsWrittenOnceItAndTheHostsAboveItHaveSettled)
{
    const struct {
        const char* what;
        std::vector<const char*> hosts;
        int parallel;
        std::vector<std::string> lines;
    } cases[] = {
        {"a silent host first: the run lasts one timeout, not the sum",
         {"silent", "answering", "answering", "answering", "answering", "answering", "answering", "answering",
          "answering", "answering", "answering", "answering", "unreachable"},
         4,
         {line("silent", kTimedOut, 1000), line("unreachable", kHostUnreachable, 1000)}},
        {"silent hosts side by side, and one that must wait for room",
         {"silent", "quiet", "silent", "quiet", "refused"},
         4,
         {line("silent", kTimedOut, 1000), line("quiet", kTimedOut, 1000), line("silent", kTimedOut, 1000),
          line("quiet", kTimedOut, 1000), line("refused", kPortUnreachable, 1002)}},
        {"one host many times in flight, several settling at once",
         {"unreachable", "unreachable", "unreachable", "unreachable", "unreachable"},
         3,
         {line("unreachable", kHostUnreachable, 3), line("unreachable", kHostUnreachable, 3),
          line("unreachable", kHostUnreachable, 3), line("unreachable", kHostUnreachable, 6),
          line("unreachable", kHostUnreachable, 6)}},
        {"more echoes allowed than hosts listed",
         {"slow", "refused", "answering", "unreachable"},
         1024,
         {line("refused", kPortUnreachable, 7), line("unreachable", kHostUnreachable, 7)}},
        {"unknown names between addresses settle at once but keep their place",
         {"unreachable", "nowhere", "refused", "nowhere"},
         2,
         {line("unreachable", kHostUnreachable, 3), line("nowhere", kBadAddress, 3),
          line("refused", kPortUnreachable, 3), line("nowhere", kBadAddress, 3)}},
    };
    for (const auto& c : cases) {
        FakeNetwork network;
        script(network);
        std::vector<std::string> written;
        std::vector<int> progress;
        std::size_t next = 0;
        const int lines = runs::ParallelBatchPing(
            {.nextHost = [&]() -> std::optional<QString> {
                 return next < c.hosts.size() ? std::optional<QString>(c.hosts[next++]) : std::nullopt;
             },
             .writeLine = [&](const QString& text) { written.push_back(text.toStdString() + " @" + std::to_string(network.now)); },
             .timeoutText = [] { return QStringLiteral("1000"); },
             .progress = [&](int settled, const QString&) { progress.push_back(settled); }},
            c.parallel);
        EXPECT_EQ(written, c.lines) << c.what;
        EXPECT_EQ(lines, static_cast<int>(c.lines.size())) << c.what;
        EXPECT_LE(network.mostInFlight, static_cast<std::size_t>(c.parallel)) << c.what;
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end())) << c.what;
        EXPECT_EQ(progress.back(), static_cast<int>(c.hosts.size())) << c.what;
        // One echo per host, in list order, each with the timeout given.
        std::vector<std::uint32_t> expected;
        for (const char* host : c.hosts)
            if (network.hosts.count(host))
                expected.push_back(std::bit_cast<std::uint32_t>(network.hosts[host][0]));
        std::vector<std::uint32_t> sent;
        for (const auto& echo : network.echoes) {
            sent.push_back(echo.destination);
            EXPECT_EQ(echo.timeout, 1000u);
        }
        EXPECT_EQ(sent, expected) << c.what;
    }
}

class Controls final : public runs::BatchControls {
public:
    explicit Controls(QString timeout) : timeout_(std::move(timeout)) {}
    QString InputPath() override { return QStringLiteral("in.txt"); }
    QString OutputPath() override { return QStringLiteral("out.txt"); }
    QString TimeoutText() override { return timeout_; }
    void SetStatusText(const QString&) override {}
    float ProgressValue() override { return value_; }
    void SetProgressValue(float value) override { value_ = value; }
    void SetProgressMax(float) override {}

private:
    QString timeout_;
    float value_ = 0.0f;
};

// The serial run of the same list on the same network is the measure: the
// same file, messages, error, echoes and Windows Sockets start-ups.
TEST(ParallelBatch, GivesTheSerialRunsFileMessagesAndErrors)
{
    QByteArray shuffled;
    std::mt19937 random(13);
    const std::vector<const char*> names = {"silent", "quiet", "answering", "unreachable", "refused", "slow",
                                            "nowhere", "  refused ", "   "};
    for (int i = 0; i < 600; ++i)
        shuffled += QByteArray(names[random() % names.size()]) + "\r\n";
    const struct {
        const char* what;
        QByteArray input;
        const char* timeout;
        int startupResult;
        bool icmpHandle;
    } cases[] = {
        {"shuffled hosts", shuffled + "\r\nsilent\r\n", "50", 0, true},
        {"no ICMP handle", "answering\r\nnowhere\r\nsilent\r\n", "50", 0, false},
        {"a timeout that is not a number", "answering\r\nsilent\r\n", "5O", 0, true},
        {"Windows Sockets does not start", "answering\r\nsilent\r\n", "50", 10091, true},
        {"more than 32767 hosts", QByteArray("answering\r\n").repeated(32768), "50", 0, true},
    };
    for (const auto& c : cases) {
        struct Run {
            QByteArray file;
            QStringList messages;
            QString error;
            std::vector<std::uint32_t> echoes;
            long startups = 0;
            long cleanups = 0;
            float progress = 0.0f;
        };
        const auto run = [&](int parallel) {
            FakeNetwork network;
            script(network);
            network.startupResult = c.startupResult;
            if (!c.icmpHandle)
                network.handleToGive = platform::INVALID_HANDLE_VALUE;
            MemoryFiles files;
            files.files["in.txt"] = c.input;
            RecordingMessageBox messages;
            Controls controls(c.timeout);
            Run result;
            try {
                runs::BatchFilePing(controls, parallel);
            } catch (const platform::RuntimeError& error) {
                result.error = error.description();
            }
            result.file = files.files["out.txt"];
            result.messages = messages.prompts();
            for (const auto& echo : network.echoes)
                result.echoes.push_back(echo.destination);
            result.startups = std::count(network.calls.begin(), network.calls.end(), "WSAStartup");
            result.cleanups = std::count(network.calls.begin(), network.calls.end(), "WSACleanup");
            result.progress = controls.ProgressValue();
            return result;
        };
        const Run serial = run(1);
        for (int parallel : {2, 7, 1024}) {
            const Run parallelRun = run(parallel);
            const std::string what = std::string(c.what) + ", -P " + std::to_string(parallel);
            EXPECT_EQ(parallelRun.file, serial.file) << what;
            EXPECT_EQ(parallelRun.messages, serial.messages) << what;
            EXPECT_EQ(parallelRun.error, serial.error) << what;
            EXPECT_EQ(parallelRun.echoes, serial.echoes) << what;
            EXPECT_EQ(parallelRun.startups, serial.startups) << what;
            EXPECT_EQ(parallelRun.cleanups, serial.cleanups) << what;
            EXPECT_EQ(parallelRun.progress, serial.progress) << what;
        }
    }
}

// A look-up that hangs until the names behind it have been looked up: with
// one look-up at a time it would wait out its limit.
TEST(ParallelBatch, ASlowLookUpHoldsUpNoLookUpBehindIt)
{
    FakeNetwork network;
    script(network);
    std::mutex mutex;
    std::condition_variable looked;
    std::set<std::string> seen;
    bool waitedOut = false;
    network.beforeLookup = [&](const std::string& name) {
        std::unique_lock lock(mutex);
        seen.insert(name);
        looked.notify_all();
        if (name == "hanging")
            waitedOut = !looked.wait_for(lock, std::chrono::seconds(10), [&] { return seen.count("refused") > 0; });
    };
    const std::vector<QString> hosts = {"hanging", "answering", "unreachable", "refused"};
    std::size_t next = 0;
    std::vector<QString> written;
    runs::ParallelBatchPing({.nextHost = [&]() -> std::optional<QString> {
                                 return next < hosts.size() ? std::optional(hosts[next++]) : std::nullopt;
                             },
                             .writeLine = [&](const QString& text) { written.push_back(text); },
                             .timeoutText = [] { return QStringLiteral("1000"); },
                             .progress = [](int, const QString&) {}},
                            2);
    EXPECT_FALSE(waitedOut);
    EXPECT_EQ(written, (std::vector<QString>{"hanging - -1   [ inet_addr: bad IP format ]",
                                             "unreachable - 11003   [ ip dest host unreachable ]",
                                             "refused - 11005   [ ip dest port unreachable ]"}));
}

}  // namespace
