// The command line's pipeline over the fake network, whose echoes take time
// on the fake's own clock and settle out of order.

#include "platform/runtime_error.h"
#include "probe/echo_status_text.h"
#include "runs/batch_file_ping.h"
#include "runs/host_pipeline.h"
#include "support/fake_network.h"
#include "support/memory_files.h"
#include "support/recording_msgbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <random>

namespace {

// Name, last address byte, status, and how long its answer or error takes
// (one that times out takes the timeout).
const struct {
    const char* name;
    std::uint8_t address;
    std::int32_t status;
    std::uint32_t ms;
} kHosts[] = {{"silent", 1, 11010, 0},   {"quiet", 2, 11010, 0},
              {"answering", 10, 0, 1},   {"unreachable", 20, 11003, 3},
              {"refused", 30, 11005, 2}, {"slow", 40, 0, 7},
              {"lossy", 50, 0, 1}};

void script(FakeNetwork& network)
{
    for (const auto& host : kHosts) {
        network.hosts[host.name] = {{192, 0, 2, host.address}};
        network.statusOf["192.0.2." + std::to_string(host.address)] = host.status;
        network.latencyOf["192.0.2." + std::to_string(host.address)] = host.ms;
    }
    network.timeoutsBefore["192.0.2.50"] = 2;  // lossy's first two echoes
}

// The list through the pipeline; each line written with the time on the
// fake's clock, and the progress reported.
std::vector<std::string> runList(FakeNetwork& network, const std::vector<const char*>& hosts, int parallel,
                                 std::vector<int>* progress = nullptr)
{
    std::vector<std::string> written;
    std::size_t next = 0;
    runs::RunPipeline(
        {.nextHost = [&] { return next < hosts.size() ? std::optional<QString>(hosts[next++]) : std::nullopt; },
         .settled =
             [&](const runs::HostResult& result) {
                 if (result.status != 0)
                     written.push_back((result.host + " - " + EchoStatusText(result.status)).toStdString() + " @" +
                                       std::to_string(network.now));
             },
         .written = {},
         .progress = [&](int settled, const QString&) { progress ? progress->push_back(settled) : void(); }},
        {.timeoutText = QStringLiteral("1000"), .parallel = parallel});
    return written;
}

const std::string kTimedOut = " - 11010   [ ip req timed out ] @";
const std::string kHostUnreachable = "unreachable - 11003   [ ip dest host unreachable ] @";
const std::string kPortUnreachable = "refused - 11005   [ ip dest port unreachable ] @";
const std::string kBadAddress = "nowhere - -1   [ inet_addr: bad IP format ] @";

// Each line is written when the last of the hosts up to it has settled, and
// no later.
TEST(HostPipeline, EachLineIsWrittenOnceItAndTheHostsAboveItHaveSettled)
{
    const struct {
        const char* what;
        std::vector<const char*> hosts;
        int parallel;
        std::vector<std::string> lines;
    } cases[] = {
        {"answers overtake silent hosts, whose timeouts run side by side, not one after the other",
         {"silent", "answering", "answering", "answering", "unreachable", "quiet", "silent", "refused"},
         4,
         {"silent" + kTimedOut + "1000", kHostUnreachable + "1000", "quiet" + kTimedOut + "1001",
          "silent" + kTimedOut + "1001", kPortUnreachable + "1001"}},
        {"silent hosts fill every place in flight; the next waits for room",
         {"silent", "quiet", "silent", "answering", "refused"},
         3,
         {"silent" + kTimedOut + "1000", "quiet" + kTimedOut + "1000", "silent" + kTimedOut + "1000",
          kPortUnreachable + "1002"}},
        {"one host many times in flight, several settling at once",
         {"unreachable", "unreachable", "unreachable", "unreachable", "unreachable"},
         3,
         {kHostUnreachable + "3", kHostUnreachable + "3", kHostUnreachable + "3", kHostUnreachable + "6",
          kHostUnreachable + "6"}},
        {"more echoes allowed than hosts listed",
         {"slow", "refused", "answering", "unreachable"},
         1024,
         {kPortUnreachable + "7", kHostUnreachable + "7"}},
        {"unknown names between addresses settle at once but keep their place",
         {"unreachable", "nowhere", "refused", "nowhere"},
         2,
         {kHostUnreachable + "3", kBadAddress + "3", kPortUnreachable + "3", kBadAddress + "3"}},
    };
    for (const auto& c : cases) {
        FakeNetwork network;
        script(network);
        std::vector<int> progress;
        EXPECT_EQ(runList(network, c.hosts, c.parallel, &progress), c.lines) << c.what;
        EXPECT_LE(network.mostInFlight, static_cast<std::size_t>(c.parallel)) << c.what;
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()) && progress.back() == int(c.hosts.size())) << c.what;
        // One echo per host, in list order, each with the timeout given.
        std::vector<std::uint32_t> expected, sent;
        for (const char* host : c.hosts)
            if (network.hosts.count(host))
                expected.push_back(std::bit_cast<std::uint32_t>(network.hosts[host][0]));
        for (const auto& echo : network.echoes)
            if (echo.timeout == 1000)
                sent.push_back(echo.destination);
        EXPECT_EQ(sent, expected) << c.what;
    }
}

class Controls final : public runs::BatchControls {
public:
    explicit Controls(QString timeout) : timeout_(std::move(timeout)) {}
    runs::BatchFile InputFile() override { return {QStringLiteral("in.txt")}; }
    runs::BatchFile OutputFile() override { return {QStringLiteral("out.txt")}; }
    QString TimeoutText() override { return timeout_; }
    void SetStatusText(const QString&) override {}
    float ProgressValue() override { return value_; }
    void SetProgressValue(float value) override { value_ = value; }
    void SetProgressMax(float) override {}

private:
    QString timeout_;
    float value_ = 0.0f;
};

class Events final : public runs::BatchEvents {
public:
    void Progress(int settled, const QString&) override { progress = static_cast<float>(settled); }
    float progress = 0.0f;
};

// The window's serial run of the same list on the same network is the
// measure for every -P: the same file, messages, error, echoes, Windows
// Sockets start-ups and clean-ups, and progress; with retries, which the
// window does not send, -P 1 is (and the echoes in any order).
TEST(HostPipeline, GivesTheWindowsFileMessagesAndErrorsForEveryParallel)
{
    QByteArray shuffled;
    std::mt19937 random(13);
    const char* const names[] = {"silent", "quiet",   "answering",  "unreachable", "refused",
                                 "slow",   "nowhere", "  refused ", "   "};
    for (int i = 0; i < 600; ++i)
        shuffled += QByteArray(names[random() % std::size(names)]) + "\r\n";
    QByteArrayList changed = shuffled.split('\n');
    changed[300] = "other\r";
    const QByteArray lossy = "lossy\r\nunreachable\r\nsilent\r\nanswering\r\n";
    const char* lossyDown =
        "unreachable - 11003   [ ip dest host unreachable ]\r\nsilent - 11010   [ ip req timed out ]\r\n";
    const struct {
        const char* what;
        QByteArray input;
        const char* timeout;
        int startupResult;
        platform::HANDLE handle;
        int retries = 0;
        QByteArray changedTo = {};   // the list at the second reading
        const char* file = nullptr;  // the output, where it is not only the serial run's
        std::size_t echoes = 0;
    } cases[] = {
        {"shuffled hosts", shuffled + "\r\nsilent\r\n", "50", 0, FakeNetwork().handleToGive},
        {"no ICMP handle", "answering\r\nnowhere\r\nsilent\r\n", "50", 0, platform::INVALID_HANDLE_VALUE},
        {"a timeout that is not a number", "answering\r\nsilent\r\n", "5O", 0, FakeNetwork().handleToGive},
        {"Windows Sockets does not start", "answering\r\nsilent\r\n", "50", 10091, FakeNetwork().handleToGive},
        {"more than 32767 hosts", QByteArray("answering\r\n").repeated(32768), "50", 0, FakeNetwork().handleToGive},
        // The hosts above the changed line are written before the error.
        {"the list changed between the passes", shuffled, "50", 0, FakeNetwork().handleToGive, 0, changed.join('\n')},
        {"shuffled hosts, retried", shuffled, "50", 0, FakeNetwork().handleToGive, 3},
        {"a lost echo retried, an error not", lossy, "50", 0, FakeNetwork().handleToGive, 2, {}, lossyDown, 3 + 1 + 3 + 1},
    };
    for (const auto& c : cases) {
        struct Run {
            QByteArray file;
            QStringList messages;
            QString error;
            std::vector<std::uint32_t> echoes;
            std::vector<std::string> calls;
            float progress;
            bool operator==(const Run&) const = default;
        };
        // -P, or 0 for the window's run.
        const auto run = [&](int parallel) {
            FakeNetwork network;
            script(network);
            network.startupResult = c.startupResult;
            network.handleToGive = c.handle;
            MemoryFiles files;
            files.files["in.txt"] = c.input;
            int openings = 0;
            files.beforeOpen = [&](const QString&) {
                if (++openings == 2 && !c.changedTo.isEmpty())
                    files.files["in.txt"] = c.changedTo;
            };
            RecordingMessageBox messages;
            Controls controls(c.timeout);
            Events events;
            Run result;
            try {
                if (parallel == 0) {
                    runs::BatchFilePing(controls);
                } else {
                    runs::PipelineBatchPing({.input = {QStringLiteral("in.txt")},
                                             .output = {QStringLiteral("out.txt")},
                                             .pipeline = {.timeoutText = c.timeout,
                                                          .retries = c.retries,
                                                          .parallel = parallel}},
                                            events);
                }
            } catch (const platform::RuntimeError& error) {
                result.error = error.description();
            }
            result.progress = parallel == 0 ? controls.ProgressValue() : events.progress;
            for (const auto& echo : network.echoes)
                result.echoes.push_back(echo.destination);
            if (c.retries > 0)
                std::sort(result.echoes.begin(), result.echoes.end());
            std::copy_if(network.calls.begin(), network.calls.end(), std::back_inserter(result.calls),
                         [](const std::string& call) { return call.starts_with("WSA"); });
            std::sort(result.calls.begin(), result.calls.end());
            result.file = files.files["out.txt"];
            result.messages = messages.prompts();
            return result;
        };
        const Run serial = run(c.retries > 0 ? 1 : 0);
        EXPECT_TRUE(!c.file || serial.file == c.file) << c.what << serial.file.toStdString();
        EXPECT_TRUE(!c.echoes || serial.echoes.size() == c.echoes) << c.what;
        EXPECT_TRUE(c.changedTo.isEmpty() || serial.error.contains("line 301 is not")) << c.what;
        for (int parallel : {1, 2, 7, 1024})
            EXPECT_TRUE(run(parallel) == serial) << c.what << ", -P " << parallel;
    }
}

// A look-up that hangs until the names behind it have been looked up: with
// one look-up at a time it would wait out its limit.
TEST(HostPipeline, ASlowLookUpHoldsUpNoLookUpBehindIt)
{
    FakeNetwork network;
    script(network);
    std::mutex mutex;
    std::condition_variable looked;
    bool refusedLooked = false;
    bool waitedOut = false;
    network.beforeLookup = [&](const std::string& name) {
        std::unique_lock lock(mutex);
        refusedLooked |= name == "refused";
        looked.notify_all();
        if (name == "nowhere")
            waitedOut = !looked.wait_for(lock, std::chrono::seconds(10), [&] { return refusedLooked; });
    };
    EXPECT_EQ(runList(network, {"nowhere", "answering", "unreachable", "refused"}, 2),
              (std::vector<std::string>{kBadAddress + "0", kHostUnreachable + "3", kPortUnreachable + "3"}));
    EXPECT_FALSE(waitedOut);
}

}  // namespace
