#include "app/command_line_parser.h"

#include "platform/files/file_name.h"
#include "platform/files/text_stream.h"
#include "platform/runtime_error.h"
#include "icmp/address.h"
#include "runs/echo_statistics.h"
#include "runs/host_pipeline.h"
#include "runs/host_range.h"
#include "runs/plugin_status.h"
#include "runs/resolver_pool.h"
#include "runs/timeout.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include <unistd.h>

namespace app {
namespace {

using Request = CommandLineRequest;

// An option either takes a value into the request or, without one, asks
// for an action of its own.
struct Option {
    char shortName;        // 0: none
    const char* longName;  // nullptr: none
    QByteArray Request::*value;
    Request::Action action = Request::Action::Batch;
    bool Request::*flag = nullptr;  // set by an option without a value that is no action
};

const Option kOptions[] = {
    {'i', "input", &Request::input},
    {'o', "output", &Request::output},
    {'t', "timeout", &Request::timeout},
    {'P', "parallel", &Request::parallel},
    {'r', "retries", &Request::retries},
    {0, "ping", &Request::host},
    {0, "prometheus", &Request::prometheus},
    {'w', "warning", &Request::warning},
    {'c', "critical", &Request::critical},
    {'h', "help", nullptr, Request::Action::Help},
    {'?', nullptr, nullptr, Request::Action::Help},
    {'v', "version", nullptr, Request::Action::Version},
    {0, "json", nullptr, Request::Action::Batch, &Request::json},
    {0, "keep-partial", nullptr, Request::Action::Batch, &Request::keepPartial},
    {0, "plugin", nullptr, Request::Action::Batch, &Request::plugin},
    {'4', "ipv4", nullptr, Request::Action::Batch, &Request::ipv4Only},
    {'6', "ipv6", nullptr, Request::Action::Batch, &Request::ipv6Names},
    // fping's letters and long names.
    {'g', "generate", nullptr, Request::Action::Batch, &Request::range},
    {'a', "alive", nullptr, Request::Action::Batch, &Request::answered},
    {'u', "unreach", nullptr, Request::Action::Batch, &Request::silent},
    {'q', "quiet", nullptr, Request::Action::Batch, &Request::quiet},
    {'c', "count", &Request::count},
    {'C', "vcount", &Request::roundTrips},
    {'p', "period", &Request::interval},
    {'s', "stats", nullptr, Request::Action::Batch, &Request::totals},
    {0, "fail-on-loss", nullptr, Request::Action::Batch, &Request::failOnLoss},
};

// What says what standard output shows in place of the output.
bool showsOwn(const Option& option)
{
    return option.flag == &Request::answered || option.flag == &Request::silent || option.flag == &Request::quiet;
}

// fping's -c is its count, check_icmp's its critical threshold: under
// --plugin it is the plugin's.
bool meantBy(const Option& option, char shortName, bool plugin)
{
    if (option.shortName != shortName)
        return false;
    if (option.value == &Request::count)
        return !plugin;
    if (option.value == &Request::critical)
        return plugin;
    return true;
}

// What only a count run has a use for.
bool countOnly(const Option& option)
{
    return option.value == &Request::interval || option.flag == &Request::failOnLoss;
}

// The least interval this user may ask for: iputils' floor for a user.
int leastInterval() { return ::geteuid() == 0 ? 1 : runs::kLeastUserIntervalMs; }

// What writes somewhere of its own, where --plugin's one line is all.
bool outputOwn(const Option& option)
{
    return option.value == &Request::output || option.value == &Request::prometheus || option.flag == &Request::json ||
           option.flag == &Request::keepPartial || showsOwn(option) || option.value == &Request::count ||
           option.value == &Request::roundTrips || option.flag == &Request::totals || countOnly(option);
}

// Options that only a batch run has a use for: --ping would take them
// without a word and ignore them.
bool batchOnly(const Option& option)
{
    return option.value == &Request::parallel || option.value == &Request::retries ||
           option.value == &Request::prometheus || option.flag == &Request::keepPartial ||
           option.flag == &Request::range || showsOwn(option) || option.value == &Request::count ||
           option.value == &Request::roundTrips || option.flag == &Request::totals || countOnly(option);
}

const QString kUsage = QStringLiteral(
    "give --input FILE and --output FILE, or --ping HOST, or the hosts themselves (HOST... or -g RANGE); --help "
    "tells more.");

QString shown(const QByteArray& argument) { return platform::decodeFileName(argument); }

// Digits only: a sign, blanks or a base would each be a second spelling.
bool wholeNumberIn(const QByteArray& value, int least, int most)
{
    const bool digits = !value.isEmpty() && value.size() <= QByteArray::number(most).size() &&
                        std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
    return digits && value.toInt() >= least && value.toInt() <= most;
}

// The window's error names ("Overflow") tell a shell user nothing; the
// command line says what is wrong with the value and what it takes.
std::optional<QString> timeoutRefusal(const QByteArray& timeout)
{
    try {
        runs::TimeoutMilliseconds(shown(timeout));
        return std::nullopt;
    } catch (const platform::RuntimeError& error) {
        const QString what = error.number() == platform::error_number::TypeMismatch
                                 ? QStringLiteral("not a whole number")
                             : timeout.trimmed().startsWith('-') ? QStringLiteral("negative")
                                                                 : QStringLiteral("too long");
        return QStringLiteral("the timeout \"%1\" is %2; --timeout takes 0 to 2147483647 milliseconds.")
            .arg(shown(timeout), what);
    }
}

// -a and -u each say which hosts standard output shows, -q that it shows
// none: fping's users give -q beside them (fping -aqg), where it adds
// nothing. The output's format means nothing where there is no output.
std::optional<QString> showsRefusal(const Request& request)
{
    const QString named = request.answered ? QStringLiteral("-a") : request.silent ? QStringLiteral("-u") : "-q";
    if (request.answered && request.silent)
        return QStringLiteral("-a and -u are given together; standard output shows the hosts of one of them.");
    if (!request.answered && !request.silent && !request.quiet)
        return std::nullopt;
    // In a count run, -q alone is fping's: only the statistics, which are
    // all that -o - then gets.
    const bool counting = !request.count.isEmpty() || !request.roundTrips.isEmpty();
    if (request.output == "-" && (request.answered || request.silent || !counting))
        return QStringLiteral(
                   "%1 says what standard output shows, so --output - cannot write there; give --output "
                   "FILE.")
            .arg(named);
    if (request.json && request.output.isEmpty())
        return QStringLiteral("--json is the output's format, and with %1 the output goes to --output FILE only.").arg(named);
    return std::nullopt;
}

// A host argument is a list's line: whatever would end or split the
// list, or be refused in it, is refused here. A range must be one.
std::optional<QString> hostsRefusal(const Request& request)
{
    if (request.range) {
        const runs::HostRange::Parsed range = runs::HostRange::parse(request.hosts);
        if (!range.range)
            return range.error;
        if (request.ipv4Only && range.range->family() == icmp::Family::V6)
            return QStringLiteral("-g %1 is a range of IPv6 addresses, and -4 pings IPv4 only.")
                .arg(shown(request.hosts.join(' ')));
        for (const QByteArray& end : request.hosts)
            if (const std::optional<QString> why = runs::LinkLocalRefusal(end.left(end.indexOf('/'))))
                return QStringLiteral("-g %1 starts or ends at %2.").arg(shown(request.hosts.join(' ')), *why);
        return std::nullopt;
    }
    for (qsizetype i = 0; i < request.hosts.size(); ++i) {
        const QByteArray& host = request.hosts[i];
        const char* const wrong = host.isEmpty() ? "is empty"
                                  : host.contains('\n') || host.contains('\r')
                                      ? "holds a line break; give each host as an argument of its own"
                                  : host.size() > platform::TextStream::kLongestLine ? "is longer than 65536 characters"
                                                                                     : nullptr;
        if (wrong)
            return QStringLiteral("the host argument %1 %2.").arg(i + 1).arg(QLatin1StringView(wrong));
        if (const std::optional<QString> why = runs::LinkLocalRefusal(host))
            return QStringLiteral("the host argument %1 is %2.").arg(shown(host), *why);
    }
    return std::nullopt;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const QByteArrayList& arguments)
{
    ParsedCommandLine parsed;
    Request& request = parsed.request;
    const qsizetype end = arguments.indexOf("--");
    parsed.plugin = arguments.first(end < 0 ? arguments.size() : end).contains("--plugin");
    const auto refuse = [&](const QString& error) {
        parsed.error = error;
        return parsed;
    };
    bool given[std::size(kOptions)] = {};
    const auto rowOf = [](QByteArray Request::*value) {
        return static_cast<std::size_t>(std::find_if(std::begin(kOptions), std::end(kOptions),
                                                     [&](const Option& o) { return o.value == value; }) -
                                        std::begin(kOptions));
    };
    const std::size_t countRow = rowOf(&Request::count), roundTripsRow = rowOf(&Request::roundTrips);
    bool help = false, version = false, ping = false, input = false, output = false;
    bool optionsEnded = false;

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QByteArray& argument = arguments[i];
        const bool isLong = argument.startsWith("--") && argument.size() > 2;
        const bool isShort = !isLong && argument.startsWith('-') && argument.size() > 1 && argument != "--";
        if (optionsEnded || (!isLong && !isShort && argument != "--")) {
            // A list's lines and a file of hosts are one step apart.
            if (argument == "-")
                return refuse(QStringLiteral("unexpected argument \"-\"; -i - reads the hosts from standard input."));
            request.hosts.append(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        QByteArray name;
        std::optional<QByteArray> attached;
        if (isLong) {
            const qsizetype equals = argument.indexOf('=');
            name = argument.mid(2, equals < 0 ? -1 : equals - 2);
            if (equals >= 0)
                attached = argument.mid(equals + 1);
        } else {
            name = argument.mid(1, 1);
            if (argument.size() > 2)
                attached = argument.mid(2);
        }
        const Option* option = nullptr;
        for (const Option& candidate : kOptions)
            if (isLong ? candidate.longName && name == candidate.longName : meantBy(candidate, name[0], parsed.plugin))
                option = &candidate;
        const QString spelled = QString::fromLatin1(isLong ? "--" : "-") + shown(name);
        if (!option)
            return refuse(QStringLiteral("unknown option %1; ").arg(spelled) + kUsage);
        bool& seen = given[option - kOptions];
        if (seen)
            return refuse(QStringLiteral("%1 is given twice.").arg(spelled));
        seen = true;

        if (!option->value) {
            if (attached)
                return refuse(QStringLiteral("%1 takes no value.").arg(spelled));
            if (option->flag)
                request.*(option->flag) = true;
            else
                (option->action == Request::Action::Help ? help : version) = true;
            continue;
        }
        if (!attached) {
            if (i + 1 == arguments.size())
                return refuse(QStringLiteral("%1 needs a value.").arg(spelled));
            attached = arguments[++i];
        }
        request.*(option->value) = *attached;
        ping = ping || option->value == &Request::host;
        input = input || option->value == &Request::input;
        output = output || option->value == &Request::output;
    }

    if (help || version) {
        request.action = help ? Request::Action::Help : Request::Action::Version;
        return parsed;
    }
    for (std::size_t i = 0; i < std::size(kOptions); ++i) {
        const bool threshold = kOptions[i].value == &Request::warning || kOptions[i].value == &Request::critical;
        if (given[i] && request.plugin && outputOwn(kOptions[i]))
            return refuse(QStringLiteral("--plugin prints one status line on standard output; --%1 is not for it.")
                              .arg(QLatin1StringView(kOptions[i].longName)));
        if (given[i] && threshold && !request.plugin)
            return refuse(QStringLiteral("-%1 is a threshold of --plugin.").arg(QLatin1Char(kOptions[i].shortName)));
        if (threshold && !runs::ParsePluginThreshold(request.*(kOptions[i].value)))
            return refuse(QStringLiteral("-%1 takes RTA,PL%: milliseconds and a percentage from 0 to 100, as "
                                         "check_icmp does (200.0,40%), not \"%2\".")
                              .arg(QLatin1Char(kOptions[i].shortName))
                              .arg(shown(request.*(kOptions[i].value))));
    }
    parsed.plugin = request.plugin;
    const bool fromArguments = !request.hosts.isEmpty() || request.range;
    const bool shows = request.answered || request.silent || request.quiet;
    // Without a name, an output could not be told from none.
    if (output && request.output.isEmpty())
        return refuse(QStringLiteral("--output names no file; - is standard output."));
    if (fromArguments && (ping || input))
        return refuse(QStringLiteral("%1 and %2 are given together; give the hosts one way.")
                          .arg(ping ? QStringLiteral("--ping") : QStringLiteral("--input"),
                               request.range
                                   ? QStringLiteral("-g")
                                   : QStringLiteral("hosts as arguments (\"%1\")").arg(shown(request.hosts[0]))));
    if (ping ? input || output : !(fromArguments || (input && (output || request.plugin || shows))))
        return refuse(kUsage);
    request.action = ping ? Request::Action::Ping : Request::Action::Batch;
    for (std::size_t i = 0; ping && i < std::size(kOptions); ++i)
        if (given[i] && batchOnly(kOptions[i]))
            return refuse(QStringLiteral("--%1 is for a batch run (--input and --output), not for --ping.")
                              .arg(QLatin1StringView(kOptions[i].longName)));
    if (!wholeNumberIn(request.parallel, 1, runs::kMostParallelEchoes))
        return refuse(QStringLiteral("--parallel takes a whole number from 1 to %1, not \"%2\".")
                          .arg(runs::kMostParallelEchoes)
                          .arg(shown(request.parallel)));
    if (!wholeNumberIn(request.retries, 0, runs::kMostRetries))
        return refuse(QStringLiteral("--retries takes a whole number from 0 to %1, not \"%2\".")
                          .arg(runs::kMostRetries)
                          .arg(shown(request.retries)));
    if (const std::optional<QString> refusal = showsRefusal(request))
        return refuse(*refusal);
    if (const std::optional<QString> refusal = hostsRefusal(request))
        return refuse(*refusal);
    if (request.ipv4Only && request.ipv6Names)
        return refuse(QStringLiteral("-4 and -6 are given together; -4 pings IPv4 only, -6 resolves names to IPv6."));
    if (const std::optional<icmp::Address> literal = icmp::Address::parse(request.host.toStdString());
        ping && request.ipv4Only && literal && literal->isV6())
        return refuse(QStringLiteral("--ping %1 is an IPv6 address, and -4 pings IPv4 only.").arg(shown(request.host)));
    if (const std::optional<QString> why = runs::LinkLocalRefusal(request.host); ping && why)
        return refuse(QStringLiteral("--ping %1 is %2.").arg(shown(request.host), *why));
    if (const std::optional<QString> refusal = timeoutRefusal(request.timeout))
        return refuse(*refusal);
    if (!request.count.isEmpty() && !request.roundTrips.isEmpty())
        return refuse(QStringLiteral("-c and -C are given together; -C is -c with every round trip on its line."));
    for (const auto& [count, spelled] : {std::pair{&request.count, "-c"}, std::pair{&request.roundTrips, "-C"}})
        if (given[count == &request.count ? countRow : roundTripsRow] &&
            !wholeNumberIn(*count, 1, runs::kMostEchoesPerHost))
            return refuse(QStringLiteral("%1 takes a whole number of echoes from 1 to %2, not \"%3\".")
                              .arg(QLatin1StringView(spelled))
                              .arg(runs::kMostEchoesPerHost)
                              .arg(shown(*count)));
    const bool counting = !request.count.isEmpty() || !request.roundTrips.isEmpty();
    for (std::size_t i = 0; !counting && i < std::size(kOptions); ++i)
        if (given[i] && countOnly(kOptions[i]))
            return refuse(
                QStringLiteral("--%1 is for a count run (-c N or -C N).").arg(QLatin1StringView(kOptions[i].longName)));
    if (!wholeNumberIn(request.interval, leastInterval(), runs::kMostIntervalMs))
        return refuse(QStringLiteral("-p takes a whole number of milliseconds from %1 to %2, not \"%3\"%4.")
                          .arg(leastInterval())
                          .arg(runs::kMostIntervalMs)
                          .arg(shown(request.interval))
                          .arg(leastInterval() > 1 ? QStringLiteral(" (below 10 only as root, as iputils ping asks)")
                                                   : QString()));
    if (!request.prometheus.isEmpty() && request.prometheus == request.output)
        return refuse(QStringLiteral("--prometheus and --output name the same file, \"%1\".").arg(shown(request.output)));
    if (request.prometheus == "-" && (OutputOf(request) == "-" || request.answered || request.silent))
        return refuse(QStringLiteral("--prometheus - would share standard output with the hosts' lines; name a file."));
    return parsed;
}

QByteArray OutputOf(const CommandLineRequest& request)
{
    if (!request.output.isEmpty() || request.plugin || request.answered || request.silent || request.quiet)
        return request.output;
    return request.hosts.isEmpty() && !request.range ? QByteArray() : QByteArray("-");
}

QString CommandLineHelp()
{
    return QStringLiteral(
        "Usage: quorvex --input FILE --output FILE [--timeout MS] [--parallel N] [--retries N]\n"
        "                [--json] [--keep-partial] [--prometheus FILE] [-4 | -6]\n"
        "                [-c N | -C N] [-p MS] [-q] [-s] [--fail-on-loss]\n"
        "       quorvex --ping HOST [--timeout MS] [--json] [-4 | -6]\n"
        "       quorvex --plugin (--input FILE | --ping HOST | HOST... | -g ...) [-w RTA,PL%] ...\n"
        "       quorvex [OPTIONS] HOST...\n"
        "       quorvex [OPTIONS] -g ADDRESS/BITS | -g FIRST LAST\n"
        "Checks which hosts answer an ICMP echo. Without options, opens the window.\n"
        "\n"
        "  HOST...             ping these hosts, in order, as a list of those lines\n"
        "                      (quorvex 127.0.0.1 127.0.0.2); without --output the\n"
        "                      output goes to standard output\n"
        "  -g, --generate ADDRESS/BITS | FIRST LAST\n"
        "                      ping every address of a range, in order, at most\n"
        "                      131072 (quorvex -g 198.51.100.0/28); an IPv4 prefix\n"
        "                      shorter than /31 leaves out the network's first and\n"
        "                      last address, as fping does\n"
        "  -a, --alive         show on standard output only the hosts that answered,\n"
        "                      one a line (quorvex -a -g 198.51.100.0/28); the output\n"
        "                      then goes to --output FILE only, or nowhere\n"
        "  -u, --unreach       show only the hosts that did not answer, likewise\n"
        "  -q, --quiet         show nothing on standard output; the exit status tells\n"
        "                      (quorvex -q HOST && echo up); beside -a or -u it adds\n"
        "                      nothing (-a -q -g, as with fping)\n"
        "  -i, --input FILE    ping every host that FILE lists, one per line, up to\n"
        "                      its first empty line; - reads standard input\n"
        "  -o, --output FILE   write each host that did not answer, with the reason,\n"
        "                      into FILE, which takes the old FILE's place when the\n"
        "                      run is done; - writes standard output\n"
        "      --keep-partial  a run cut short (a signal, an error) leaves its lines\n"
        "                      in FILE rather than the old FILE as it was\n"
        "      --prometheus FILE  also write the run's metrics into FILE, for\n"
        "                      node_exporter's textfile collector; a run that fails\n"
        "                      keeps the hosts' samples and sets quorvex_last_run_success 0\n"
        "      --ping HOST     ping HOST once and print the verdict\n"
        "      --json          write one JSON object a line instead: a header (type run),\n"
        "                      one for every host (type host: line, host, host_bytes\n"
        "                      when not UTF-8, address, status, status_text, rtt_ms,\n"
        "                      ttl, router) and a trailer (type end: how the run ended)\n"
        "      --plugin        print one status line for Nagios or Icinga instead\n"
        "                      (QUORVEX OK - text | perfdata: rta_HOST, pl_HOST) and\n"
        "                      exit 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN (an error)\n"
        "  -w, --warning RTA,PL%  --plugin's WARNING at a round trip of RTA ms or a\n"
        "                      loss of PL% (default 200.0,40%)\n"
        "  -c, --critical RTA,PL% its CRITICAL (default 500.0,80%); a host that did\n"
        "                      not answer has lost 100%\n"
        "  -t, --timeout MS    wait at most MS milliseconds for each answer (default 500)\n"
        "  -P, --parallel N    keep up to N echoes in flight, 1 to 1024 (default 1);\n"
        "                      the output is the same, in the same order\n"
        "  -r, --retries N     give a host whose echo timed out up to N more echoes,\n"
        "                      0 to 10 (default 0); an ICMP error is not retried\n"
        "  -4, --ipv4          IPv4 only: an IPv6 address is refused (in a list, it\n"
        "                      has no address)\n"
        "  -6, --ipv6          resolve names to their first IPv6 address; by default\n"
        "                      a name is pinged at its first IPv4 address, and an\n"
        "                      address in the family it is written in; a link-local\n"
        "                      one (fe80::/10, or with a %zone) is refused\n"
        "  -c, --count N       send N echoes to every host, 1 to 100000, one every -p\n"
        "                      ms to each, and print fping's line for each host on\n"
        "                      stderr: HOST : xmt/rcv/%loss = 5/4/20%, min/avg/max =\n"
        "                      0.031/0.040/0.062; the output lists the hosts none of\n"
        "                      whose echoes came back, -r retries only those, and\n"
        "                      --json writes an object for every echo (type echo,\n"
        "                      with seq from 0) and one for every host (type summary:\n"
        "                      sent, received, loss_percent, rtt_min_ms, rtt_avg_ms,\n"
        "                      rtt_max_ms, rtt_stddev_ms). Under --plugin, -c is -c\n"
        "                      below (check_icmp's critical threshold). Unlike fping,\n"
        "                      no per-echo line goes to standard output, and the\n"
        "                      timeout stays -t's rather than following -p\n"
        "  -C, --vcount N      as -c, but each host's line holds every round trip\n"
        "                      in ms, - for an echo lost: HOST : 0.04 0.05 - 0.04\n"
        "  -p, --period MS     wait MS ms between two echoes to one host, 10 to\n"
        "                      3600000 (1 as root; default 1000); -P still bounds\n"
        "                      the echoes in flight over all hosts\n"
        "  -q, --quiet         (above) in a count run: with --json, no echo objects\n"
        "  -s, --stats         print the run's totals on stderr at the end, as fping\n"
        "                      -s: hosts, answering, echoes sent and answered, time\n"
        "      --fail-on-loss  in a count run, also list a host that lost some\n"
        "                      echoes (HOST - STATUS   [ TEXT ] (2 of 5 lost)) and\n"
        "                      exit 1 for it\n"
        "  -h, --help          show this text\n"
        "  -v, --version       show the version\n"
        "\n"
        "Example: quorvex -i hosts.txt -o down.txt -c 5 -p 100 -P 64\n"
        "Ctrl+C in a count run stops the sending and prints the statistics so far.\n"
        "\n"
        "Exit status: 0 every host answered (one echo is enough), 1 at least one did\n"
        "not (or, with --fail-on-loss, lost one), 2 an error (with --plugin, the\n"
        "plugin's states above), whatever -a, -u or -q show; 130 after Ctrl+C.\n"
        "\n"
        "Unlike fping: standard output gets the hosts that did not answer, with the\n"
        "reason, rather than a line for every host; lines come in the order given,\n"
        "not as answers arrive; one option an argument (-a -q -g, not -aqg); -a\n"
        "with -u, and -g FIRST LAST with FIRST after LAST, are refused.\n");
}

}  // namespace app
