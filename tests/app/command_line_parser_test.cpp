#include "app/command_line_parser.h"

#include <gtest/gtest.h>

#include <tuple>

#include <unistd.h>

namespace {

using Action = app::CommandLineRequest::Action;

// Every spelling of a value reaches the request as its bytes; whatever the
// parser cannot take whole is refused, with the reason.
TEST(ParseCommandLine, TakesEverySpellingOfAValueAndRefusesWhatItCannotTakeWhole)
{
    const struct {
        QByteArrayList arguments;
        Action action;
        QByteArray input, output, host, timeout;
        const char* error;  // the start of the refusal, or empty
        QByteArray parallel = "1";
        QByteArray retries = "0";
        bool json = false;
        QByteArray prometheus = "";
        bool plugin = false;
        QByteArray warning = "200.0,40%";
        bool ipv4Only = false;
        bool ipv6Names = false;
    } cases[] = {
        {{"-4", "--ping", "127.0.0.1"}, Action::Ping, "", "", "127.0.0.1", "500", "", "1", "0", false, "", false, "200.0,40%", true},
        {{"--ping=::1"}, Action::Ping, "", "", "::1", "500", ""},
        {{"-i", "in", "-o", "out", "--ipv6"}, Action::Batch, "in", "out", "", "500", "", "1", "0", false, "", false, "200.0,40%", false, true},
        {{"-6", "-i", "in", "-o", "out", "-4"}, {}, {}, {}, {}, {}, "-4 and -6 are given together;"},
        {{"--ping", "::ffff:127.0.0.1", "--ipv4"}, {}, {}, {}, {}, {}, "--ping ::ffff:127.0.0.1 is an IPv6 address, and -4"},
        {{"-46", "--ping", "h"}, {}, {}, {}, {}, {}, "-4 takes no value."},
        {{"--plugin", "-i", "in", "-w0.5,0%"}, Action::Batch, "in", "", "", "500", "", "1", "0", false, "", true, "0.5,0%"},
        {{"--ping", "h", "--plugin", "-c", "9,100"}, Action::Ping, "", "", "h", "500", "", "1", "0", false, "", true},
        {{"--plugin", "-i", "in", "-o", "out"}, {}, {}, {}, {}, {}, "--plugin prints one status line on standard output; --output"},
        {{"--plugin", "-i", "in", "--json"}, {}, {}, {}, {}, {}, "--plugin prints one status line on standard output; --json"},
        {{"-i", "in", "--plugin", "--prometheus", "m"}, {}, {}, {}, {}, {}, "--plugin prints one status line"},
        {{"-i", "in", "-o", "out", "-w", "1,2"}, {}, {}, {}, {}, {}, "-w is a threshold of --plugin."},
        {{"--plugin", "-i", "in", "--critical=1"}, {}, {}, {}, {}, {}, "-c takes RTA,PL%"},
        {{"--plugin"}, {}, {}, {}, {}, {}, "give --input FILE"},
        {{"--json", "-i", "in", "-o", "-"}, Action::Batch, "in", "-", "", "500", "", "1", "0", true},
        {{"-i", "in", "-o", "out", "-P", "1024"}, Action::Batch, "in", "out", "", "500", "", "1024"},
        {{"-i", "in", "--parallel=08", "-o", "out"}, Action::Batch, "in", "out", "", "500", "", "08"},
        {{"-i", "in", "-o", "out", "-P0"}, {}, {}, {}, {}, {}, "--parallel takes a whole number from 1 to 1024, not \"0\"."},
        {{"-i", "in", "-o", "out", "-P", "1025"}, {}, {}, {}, {}, {}, "--parallel takes"},
        {{"-i", "in", "-o", "out", "--parallel", "+8"}, {}, {}, {}, {}, {}, "--parallel takes"},
        {{"-i", "in", "-o", "out", "-P", "00008"}, {}, {}, {}, {}, {}, "--parallel takes"},
        {{"-i", "in", "-o", "out", "-p", "8"}, {}, {}, {}, {}, {}, "--period is for a count run"},
        {{"-i", "in", "-o", "out"}, Action::Batch, "in", "out", "", "500", ""},
        {{"--input=in\xfe", "-oout", "--timeout", "-0", "--"}, Action::Batch, "in\xfe", "out", "", "-0", ""},
        {{"-i", "-", "--output", "-", "-t", " 7 "}, Action::Batch, "-", "-", "", " 7 ", ""},
        {{"--ping", "-i"}, Action::Ping, "", "", "-i", "500", ""},
        {{"--ping=\x1b[31m", "-t0"}, Action::Ping, "", "", "\x1b[31m", "0", ""},
        {{"-i", "in", "--help"}, Action::Help, "in", "", "", "500", ""},
        {{"-v"}, Action::Version, "", "", "", "500", ""},
        {{"-i", "in", "-o", "out", "-r", "10"}, Action::Batch, "in", "out", "", "500", "", "1", "10"},
        {{"-i", "in", "-o", "out", "-r", "11"}, {}, {}, {}, {}, {}, "--retries takes a whole number from 0 to 10, not \"11\"."},
        {{"-i", "in", "-o", "out", "--retries", "003"}, {}, {}, {}, {}, {}, "--retries takes"},
        {{"-i", "in", "-o", "out", "-t", "-5"}, {}, {}, {}, {}, {}, "the timeout \"-5\" is negative;"},
        {{"-i", "in", "-o", "out", "-t", "2147483648"}, {}, {}, {}, {}, {}, "the timeout \"2147483648\" is too long;"},
        {{"--ping", "h", "-t", ""}, {}, {}, {}, {}, {}, "the timeout \"\" is not a whole number;"},
        {{"--ping", "h", "-o", "out"}, {}, {}, {}, {}, {}, "give --input FILE"},
        {{"-i", "in", "--ping", "h"}, {}, {}, {}, {}, {}, "give --input FILE"},
        {{"--ping", "h", "-P8"}, {}, {}, {}, {}, {}, "--parallel is for a batch run"},
        {{"--keep-partial", "--ping", "h"}, {}, {}, {}, {}, {}, "--keep-partial is for a batch run"},
        {{"--ping", "h", "--prometheus", "m"}, {}, {}, {}, {}, {}, "--prometheus is for a batch run"},
        {{"-i", "in", "-o", "-", "--prometheus=-"}, {}, {}, {}, {}, {}, "--prometheus and --output name the same file"},
        {{"-i", "in", "-o", "m", "--prometheus", "m"}, {}, {}, {}, {}, {}, "--prometheus and --output name"},
        {{"-i", "in", "-o", "out", "--prometheus", "m\xfe"}, Action::Batch, "in", "out", "", "500", "", "1", "0", false, "m\xfe"},
        {{"-i", "in", "-o", "out", "-i", "in"}, {}, {}, {}, {}, {}, "-i is given twice."},
        {{"-i", "in", "-o"}, {}, {}, {}, {}, {}, "-o needs a value."},
        {{"--help=1"}, {}, {}, {}, {}, {}, "--help takes no value."},
        {{"-x"}, {}, {}, {}, {}, {}, "unknown option -x;"},
        {{"--inputs", "in"}, {}, {}, {}, {}, {}, "unknown option --inputs;"},
        {{"-i", "in", "-o", "out", "--", "-t"}, {}, {}, {}, {}, {}, "--input and hosts as arguments (\"-t\") are given"},
        {{"-"}, {}, {}, {}, {}, {}, "unexpected argument \"-\";"},
        {{"-o", "out"}, {}, {}, {}, {}, {}, "give --input FILE and --output FILE, or --ping HOST"},
        {{"--ping", "h", "-i", "in", "-o", "out"}, {}, {}, {}, {}, {}, "give --input FILE"},
        {{}, {}, {}, {}, {}, {}, "give --input FILE"},
    };
    for (const auto& c : cases) {
        // A refusal under --plugin is its UNKNOWN, so the flag is known even then.
        EXPECT_EQ(app::ParseCommandLine(c.arguments).plugin, c.arguments.contains("--plugin"));
        const std::string arguments = c.arguments.join(' ').toStdString();
        const app::ParsedCommandLine parsed = app::ParseCommandLine(c.arguments);
        if (*c.error != '\0') {
            EXPECT_TRUE(parsed.error.startsWith(QString::fromUtf8(c.error)))
                << arguments << ": " << parsed.error.toStdString();
            continue;
        }
        EXPECT_EQ(parsed.error.toStdString(), "") << arguments;
        EXPECT_EQ(parsed.request.action, c.action) << arguments;
        EXPECT_EQ(parsed.request.input, c.input) << arguments;
        EXPECT_EQ(parsed.request.output, c.output) << arguments;
        EXPECT_EQ(parsed.request.host, c.host) << arguments;
        EXPECT_EQ(parsed.request.timeout, c.timeout) << arguments;
        EXPECT_EQ(parsed.request.parallel, c.parallel) << arguments;
        EXPECT_EQ(parsed.request.retries, c.retries) << arguments;
        EXPECT_EQ(parsed.request.json, c.json) << arguments;
        EXPECT_EQ(parsed.request.prometheus, c.prometheus) << arguments;
        EXPECT_EQ(parsed.request.plugin, c.plugin) << arguments;
        EXPECT_EQ(parsed.request.warning, c.warning) << arguments;
        EXPECT_EQ(parsed.request.ipv4Only, c.ipv4Only) << arguments;
        EXPECT_EQ(parsed.request.ipv6Names, c.ipv6Names) << arguments;
    }
}

}  // namespace

// fping's options: hosts given as arguments and -g's range are a list's
// lines; -a, -u and -q decide what standard output shows, and so where the
// output goes; a count run's, and where they clash with check_icmp's or
// with one another.
TEST(ParseCommandLine, TakesFpingsOptionsAsFpingSpellsThemAndSaysWhereTheOutputGoes)
{
    const struct {
        QByteArrayList arguments;
        const char* error;  // the start of the refusal, or empty
        QByteArrayList hosts = {};
        QByteArray outputOf = "-";
        bool range = false, answered = false, silent = false, quiet = false;
        QByteArray count = "", roundTrips = "", interval = "1000";
        bool totals = false, failOnLoss = false;
    } cases[] = {
        {{"127.0.0.1", "-t", "9", "b"}, "", {"127.0.0.1", "b"}},
        {{"--", "-t", "--"}, "", {"-t", "--"}},
        {{"-g", "127.0.0.0/28"}, "", {"127.0.0.0/28"}, "-", true},
        {{"2001:db8::1", "--generate", "2001:db8::9"}, "", {"2001:db8::1", "2001:db8::9"}, "-", true},
        {{"-a", "-q", "-g", "127.0.0.0/29"}, "", {"127.0.0.0/29"}, "", true, true, false, true},
        {{"--unreach", "-o", "down", "h"}, "", {"h"}, "down", false, false, true},
        {{"-q", "-i", "in"}, "", {}, "", false, false, false, true},
        {{"--alive", "-i", "in", "-o", "out", "--json"}, "", {}, "out", false, true},
        {{"-i", "in", "h"}, "--input and hosts as arguments (\"h\") are given together;"},
        {{"-g", "-i", "in"}, "--input and -g are given together;"},
        {{"--ping", "h", "-g", "127.0.0.1/32"}, "--ping and -g are given together;"},
        {{"--ping", "h", "-a"}, "--alive is for a batch run"},
        {{"-a", "-u", "h"}, "-a and -u are given together;"},
        {{"-q", "-o", "-", "h"}, "-q says what standard output shows, so --output - cannot"},
        {{"-q", "-c", "2", "-o", "-", "h"}, "", {"h"}, "-", false, false, false, true, "2"},  // only the statistics
        {{"-u", "--json", "h"}, "--json is the output's format, and with -u the output goes to --output FILE only."},
        {{"--plugin", "-q", "-i", "in"}, "--plugin prints one status line on standard output; --quiet"},
        {{"--plugin", "h"}, "", {"h"}, ""},
        {{"-i", "in", "--output="}, "--output names no file;"},
        {{"-a"}, "give --input FILE and --output FILE, or --ping HOST, or the hosts themselves"},
        {{"-"}, "unexpected argument \"-\"; -i - reads the hosts from standard input."},
        {{"a", ""}, "the host argument 2 is empty."},
        {{"a\nb"}, "the host argument 1 holds a line break;"},
        {{"--", QByteArray(65537, 'x')}, "the host argument 1 is longer than 65536 characters."},
        {{"--prometheus", "-", "h"}, "--prometheus - would share standard output"},
        {{"--prometheus", "-", "-q", "h"}, "", {"h"}, "", false, false, false, true},
        {{"-g"}, "-g takes a range, ADDRESS/BITS or FIRST LAST, not 0 arguments."},
        {{"-4", "-g", "2001:db8::/120"}, "-g 2001:db8::/120 is a range of IPv6 addresses, and -4 pings IPv4 only."},
        {{"-4", "2001:db8::1"}, "", {"2001:db8::1"}},  // in a list, it has no address
        {{"h", "fe80::1%eth0"}, "the host argument fe80::1%eth0 is a link-local address"},
        {{"-g", "fe80::/120"}, "-g fe80::/120 starts or ends at a link-local address"},
        {{"-i", "in", "-o", "out", "-c", "5", "-p", "20", "-q", "-s", "--fail-on-loss"},
         "",
         {},
         "out",
         false,
         false,
         false,
         true,
         "5",
         "",
         "20",
         true,
         true},
        {{"-i", "in", "-o", "out", "--vcount=100000", "--period", "3600000"},
         "",
         {},
         "out",
         false,
         false,
         false,
         false,
         "",
         "100000",
         "3600000"},
        {{"-C1", "--stats", "h"}, "", {"h"}, "-", false, false, false, false, "", "1", "1000", true},
        {{"-c", "5", "-C", "5", "h"}, "-c and -C are given together;"},
        {{"-c", "0", "h"}, "-c takes a whole number of echoes from 1 to 100000, not \"0\"."},
        {{"-C", "100001", "h"}, "-C takes a whole number"},
        {{"--count=", "h"}, "-c takes a whole number"},
        {{"-c", "5", "-p", "3600001", "h"}, "-p takes a whole number of milliseconds"},
        {{"-c", "5", "-p", "0", "h"}, "-p takes a whole number of milliseconds"},
        {{"-p", "20", "h"}, "--period is for a count run (-c N or -C N)."},
        {{"--fail-on-loss", "h"}, "--fail-on-loss is for a count run"},
        {{"--plugin", "-c", "5", "h"}, "-c takes RTA,PL%"},
        {{"--plugin", "--count", "5", "h"}, "--plugin prints one status line on standard output; --count"},
    };
    for (const auto& c : cases) {
        const std::string arguments = c.arguments.join(' ').toStdString();
        const app::ParsedCommandLine parsed = app::ParseCommandLine(c.arguments);
        if (*c.error != '\0') {
            EXPECT_TRUE(parsed.error.startsWith(QString::fromUtf8(c.error)))
                << arguments << ": " << parsed.error.toStdString();
            continue;
        }
        const app::CommandLineRequest& request = parsed.request;
        EXPECT_EQ(parsed.error.toStdString(), "") << arguments;
        EXPECT_EQ(request.action, Action::Batch) << arguments;
        EXPECT_EQ(request.hosts, c.hosts) << arguments;
        EXPECT_EQ(app::OutputOf(request), c.outputOf) << arguments;
        EXPECT_EQ(std::tuple(request.range, request.answered, request.silent, request.quiet),
                  std::tuple(c.range, c.answered, c.silent, c.quiet))
            << arguments;
        EXPECT_EQ(std::tuple(request.count, request.roundTrips, request.interval, request.totals, request.failOnLoss),
                  std::tuple(c.count, c.roundTrips, c.interval, c.totals, c.failOnLoss))
            << arguments;
    }
    // Below iputils' floor for a user only root may go.
    const app::ParsedCommandLine fast = app::ParseCommandLine({"-c", "3", "-p", "9", "h"});
    EXPECT_EQ(fast.error.isEmpty(), geteuid() == 0) << fast.error.toStdString();
}
