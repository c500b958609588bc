// The command line's parser over any argument list. Input: the arguments
// after the program's name, each ended by a NUL byte (the last one's may be
// missing); their bytes need not be UTF-8. The parser gives a request or
// one error, takes each value byte for byte from the argument that gave it,
// hands the runs only values they accept (a timeout, a number of echoes in
// flight, a number of retries, one family choice, hosts a list could hold,
// a range within its limit, one use of standard output, a count and an
// interval of a count run), and touches nothing: no file, no socket,
// no message box, nothing in the working folder.

#include "app/command_line_parser.h"
#include "platform/ansi.h"
#include "platform/files/file_name.h"
#include "platform/files/files.h"
#include "platform/files/text_stream.h"
#include "platform/msgbox.h"
#include "platform/net/network.h"
#include "platform/runtime_error.h"
#include "require.h"
#include "icmp/address.h"
#include "runs/echo_statistics.h"
#include "runs/host_pipeline.h"
#include "runs/host_range.h"
#include "runs/plugin_status.h"
#include "runs/timeout.h"

#include <QDir>

#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace {

using Request = app::CommandLineRequest;

[[noreturn]] void touched(const char* what)
{
    std::fprintf(stderr, "property broken: the parser used %s\n", what);
    std::abort();
}

class NoFiles final : public platform::Files {
    platform::OpenedFile openForReading(const QString&) override { touched("openForReading"); }
    platform::OpenedFile create(const QString&, bool) override { touched("create"); }
    std::optional<platform::FileIdentity> identify(const QString&) override { touched("identify"); }
    platform::OpenedFile standardInput() override { touched("standardInput"); }
    platform::OpenedFile standardOutput() override { touched("standardOutput"); }
};

class NoMessageBox final : public platform::MessageBox {
    void show(const QString&, int) override { touched("the message box"); }
};

class NoNetwork final : public platform::Network {
    int WSAStartup(std::uint16_t, platform::WSADATA*) override { touched("WSAStartup"); }
    int WSACleanup() override { touched("WSACleanup"); }
    const platform::HOSTENT* gethostbyname(const char*) override { touched("gethostbyname"); }
    const char* inet_ntoa(platform::IN_ADDR) override { touched("inet_ntoa"); }
    std::uint32_t inet_addr(const char*) override { touched("inet_addr"); }
    platform::HANDLE IcmpCreateFile() override { touched("IcmpCreateFile"); }
    std::uint32_t IcmpSendEcho(platform::HANDLE, std::uint32_t, const void*, std::uint16_t,
                               const platform::IP_OPTION_INFORMATION*, void*, std::uint32_t, std::uint32_t) override
    {
        touched("IcmpSendEcho");
    }
    bool IcmpCloseHandle(platform::HANDLE) override { touched("IcmpCloseHandle"); }
    bool IcmpSendEcho2(platform::HANDLE, void*, std::uint32_t, const void*, std::uint16_t,
                       const platform::IP_OPTION_INFORMATION*, void*, std::uint32_t, std::uint32_t) override
    {
        touched("IcmpSendEcho2");
    }
    std::size_t IcmpCollectEchoes(platform::HANDLE, std::uint32_t, std::vector<void*>&) override
    {
        touched("IcmpCollectEchoes");
    }
    std::optional<icmp::Address> FirstAddress(const char*, icmp::Family) override { touched("FirstAddress"); }
    icmp::EchoTransport* ProcessEchoTransport() override { touched("ProcessEchoTransport"); }
};

// A value option: where the request keeps it, how it is spelled, what it is
// when not given.
struct ValueOption {
    QByteArray Request::*value;
    char shortName;  // 0: none
    QByteArray longName;
    QByteArray byDefault;
};

const ValueOption kValueOptions[] = {
    {&Request::input, 'i', "input", {}},
    {&Request::output, 'o', "output", {}},
    {&Request::timeout, 't', "timeout", "500"},
    {&Request::host, 0, "ping", {}},
    {&Request::parallel, 'P', "parallel", "1"},
    {&Request::retries, 'r', "retries", "0"},
    {&Request::prometheus, 0, "prometheus", {}},
    {&Request::warning, 'w', "warning", "200.0,40%"},
    {&Request::critical, 'c', "critical", "500.0,80%"},
    {&Request::count, 'c', "count", {}},
    {&Request::roundTrips, 'C', "vcount", {}},
    {&Request::interval, 'p', "period", "1000"},
};

// The value came whole from one argument: the one after the option, or the
// rest of the option's own argument.
bool givenAs(const QByteArrayList& arguments, const ValueOption& option, const QByteArray& value)
{
    const QByteArray shortSpelling = option.shortName ? QByteArray("-") + option.shortName : QByteArray();
    const QByteArray longSpelling = "--" + option.longName;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray& argument = arguments[i];
        const bool afterOption =
            i > 0 && (arguments[i - 1] == longSpelling || (option.shortName && arguments[i - 1] == shortSpelling));
        if ((afterOption && argument == value) || argument == longSpelling + '=' + value ||
            (option.shortName && argument == shortSpelling + value))
            return true;
    }
    return false;
}

// What the working folder holds, where a relative name would land.
QStringList workingFolder()
{
    return QDir::current().entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

bool sameRequest(const Request& a, const Request& b)
{
    return a.action == b.action && a.input == b.input && a.output == b.output && a.host == b.host &&
           a.timeout == b.timeout && a.parallel == b.parallel && a.retries == b.retries && a.json == b.json &&
           a.keepPartial == b.keepPartial && a.prometheus == b.prometheus && a.plugin == b.plugin &&
           a.warning == b.warning && a.critical == b.critical && a.ipv4Only == b.ipv4Only &&
           a.ipv6Names == b.ipv6Names && a.hosts == b.hosts && a.range == b.range && a.answered == b.answered &&
           a.silent == b.silent && a.quiet == b.quiet && a.count == b.count && a.roundTrips == b.roundTrips &&
           a.interval == b.interval && a.totals == b.totals && a.failOnLoss == b.failOnLoss;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    QByteArray bytes(reinterpret_cast<const char*>(input), static_cast<qsizetype>(size));
    if (bytes.endsWith('\0'))
        bytes.chop(1);
    const QByteArrayList arguments = size == 0 ? QByteArrayList() : bytes.split('\0');

    NoFiles files;
    NoMessageBox messageBox;
    NoNetwork network;
    const platform::ScopedFake<platform::Files> noFiles(files);
    const platform::ScopedFake<platform::MessageBox> noMessageBox(messageBox);
    const platform::ScopedFake<platform::Network> noNetwork(network);

    static const QStringList folderBefore = workingFolder();
    const app::ParsedCommandLine parsed = app::ParseCommandLine(arguments);
    const app::ParsedCommandLine again = app::ParseCommandLine(arguments);
    FUZZ_REQUIRE(parsed.error == again.error && parsed.plugin == again.plugin &&
                 sameRequest(parsed.request, again.request));
    FUZZ_REQUIRE(workingFolder() == folderBefore);
    if (!parsed.error.isEmpty())
        return 0;

    const Request& request = parsed.request;
    for (const ValueOption& option : kValueOptions) {
        const QByteArray& value = request.*(option.value);
        FUZZ_REQUIRE(value == option.byDefault || givenAs(arguments, option, value));
    }
    if (request.action == Request::Action::Help || request.action == Request::Action::Version)
        return 0;
    FUZZ_REQUIRE(request.action == Request::Action::Ping ? request.input.isEmpty() && request.output.isEmpty()
                                                         : request.host.isEmpty());
    // --ping refuses what only a batch run uses rather than ignore it.
    FUZZ_REQUIRE(request.action != Request::Action::Ping ||
                 (request.parallel == Request().parallel && request.retries == Request().retries &&
                  !request.keepPartial && request.prometheus.isEmpty()));
    // --plugin's one line is its output; the run takes its thresholds unchecked.
    FUZZ_REQUIRE(parsed.plugin == request.plugin);
    FUZZ_REQUIRE(!request.plugin ||
                 (request.output.isEmpty() && !request.json && request.prometheus.isEmpty() && !request.keepPartial));
    FUZZ_REQUIRE(request.plugin || (request.warning == Request().warning && request.critical == Request().critical));
    FUZZ_REQUIRE(runs::ParsePluginThreshold(request.warning) && runs::ParsePluginThreshold(request.critical));
    // One family choice at most, and -4 never pings an IPv6 address it was given.
    FUZZ_REQUIRE(!(request.ipv4Only && request.ipv6Names));
    const std::optional<icmp::Address> literal = icmp::Address::parse(request.host.toStdString());
    FUZZ_REQUIRE(!request.ipv4Only || !literal || literal->isV4());
    // The metrics never overwrite the output.
    FUZZ_REQUIRE(request.prometheus.isEmpty() || request.prometheus != request.output);
    // The runs open each file by the name the parser kept, and resolve the
    // host as single-byte text: each must come back as the very bytes given.
    for (const QByteArray& name : {request.input, request.output, request.prometheus})
        FUZZ_REQUIRE(platform::encodeFileName(platform::decodeFileName(name)) == name);
    FUZZ_REQUIRE(platform::toAnsi(platform::fromAnsi(request.host)) == request.host);
    // Hosts come from one place, each a whole argument that a list could
    // hold as a line; a range is one, within the limit, and of IPv4 under -4.
    const bool given = !request.hosts.isEmpty() || request.range;
    FUZZ_REQUIRE(!given || (request.action == Request::Action::Batch && request.input.isEmpty()));
    for (const QByteArray& host : request.hosts)
        FUZZ_REQUIRE(arguments.contains(host) &&
                     (request.range || (!host.isEmpty() && !host.contains('\n') && !host.contains('\r') &&
                                        host.size() <= platform::TextStream::kLongestLine)));
    if (request.range) {
        const runs::HostRange::Parsed range = runs::HostRange::parse(request.hosts);
        FUZZ_REQUIRE(range.range && range.range->size() >= 1 && range.range->size() <= runs::kMostRangeHosts);
        FUZZ_REQUIRE(!request.ipv4Only || range.range->family() == icmp::Family::V4);
    }
    // A batch run has somewhere for its hosts' lines, and standard output
    // has one use: the output, -a's or -u's hosts, or the metrics.
    // (In a count run, -q alone leaves standard output to the output.)
    const bool counting = !request.count.isEmpty() || !request.roundTrips.isEmpty();
    const QByteArray output = app::OutputOf(request);
    const bool shows = request.answered || request.silent || (request.quiet && !(counting && output == "-"));
    FUZZ_REQUIRE(request.action != Request::Action::Batch || request.plugin || shows || !output.isEmpty());
    FUZZ_REQUIRE(!(request.answered && request.silent));
    FUZZ_REQUIRE(!shows || (output != "-" && !request.plugin && (!request.json || !output.isEmpty())));
    FUZZ_REQUIRE(output == request.output || (request.output.isEmpty() && output == "-" && given));
    FUZZ_REQUIRE(request.prometheus != "-" || (output != "-" && !request.answered && !request.silent));
    // The run reads the timeout only once the output is replaced: it must
    // not be refused then.
    bool accepted = true;
    try {
        accepted = runs::TimeoutMilliseconds(platform::decodeFileName(request.timeout)) >= 0;
    } catch (const platform::RuntimeError&) {
        accepted = false;
    }
    FUZZ_REQUIRE(accepted);
    // The batch run takes the whole argument as the number of echoes in flight.
    bool number = false;
    const int parallel = request.parallel.toInt(&number);
    FUZZ_REQUIRE(number && parallel >= 1 && parallel <= runs::kMostParallelEchoes);
    // And so the number of retries.
    const int retries = request.retries.toInt(&number);
    FUZZ_REQUIRE(number && retries >= 0 && retries <= runs::kMostRetries);
    // A count run is -c or -C, never both, with a count and an interval the
    // pipeline takes (at least iputils' floor for a user who is not root);
    // what only a count run reads is refused elsewhere, and so is a count
    // where one echo or one status line is all (--ping, --plugin).
    FUZZ_REQUIRE(request.count.isEmpty() || request.roundTrips.isEmpty());
    if (counting) {
        const int count = (request.count.isEmpty() ? request.roundTrips : request.count).toInt(&number);
        FUZZ_REQUIRE(number && count >= 1 && count <= runs::kMostEchoesPerHost);
    }
    const int interval = request.interval.toInt(&number);
    FUZZ_REQUIRE(number && interval >= (geteuid() == 0 ? 1 : runs::kLeastUserIntervalMs) &&
                 interval <= runs::kMostIntervalMs);
    FUZZ_REQUIRE(counting || (!request.failOnLoss && request.interval == Request().interval));
    FUZZ_REQUIRE((request.action == Request::Action::Batch && !request.plugin) || (!counting && !request.totals));
    return 0;
}
