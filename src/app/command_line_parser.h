#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

namespace app {

// What the command line asks for. Values are the arguments' own bytes:
// file names go to the file system as they are, a host to the resolver as
// single-byte text, and "-" names standard input or output.
struct CommandLineRequest {
    enum class Action { Batch, Ping, Help, Version };
    Action action = Action::Batch;
    QByteArray input;
    QByteArray output;
    QByteArray host;
    QByteArray timeout = "500";
    QByteArray parallel = "1";  // echoes in flight, checked to be 1 to kMostParallelEchoes
    QByteArray retries = "0";   // more echoes for a host that timed out, checked to be 0 to kMostRetries
    QByteArray prometheus;      // a textfile of the run's metrics; empty: none
    // One status line in the Monitoring Plugins' format instead of the
    // output, judged by check_icmp's thresholds (runs/plugin_status.h).
    bool plugin = false;
    QByteArray warning = "200.0,40%";
    QByteArray critical = "500.0,80%";
    bool json = false;  // one JSON object a line, for every host
    // The lines of a run cut short go to the output file all the same,
    // rather than leave the last file as it was.
    bool keepPartial = false;
    // -4: IPv4 only, an IPv6 literal refused; -6: names resolved to their
    // first IPv6 address rather than their first IPv4 one. A literal is
    // pinged in its own family either way.
    bool ipv4Only = false;
    bool ipv6Names = false;
    // The hosts given as arguments, pinged as a list of those lines would
    // be; with -g, the range's ADDRESS/BITS or FIRST LAST instead.
    QByteArrayList hosts;
    bool range = false;
    // What standard output shows in place of the output, as fping's -a,
    // -u and -q: the hosts that answered, those that did not, or nothing
    // (-q beside -a or -u adds nothing; in a count run, -q leaves only the
    // statistics). The output goes to --output only.
    bool answered = false;
    bool silent = false;
    bool quiet = false;
    // A count run: -c N echoes to every host with fping's summary line on
    // stderr, or -C N with every round trip; empty: one echo a host. -p is
    // the interval between two echoes to one host.
    QByteArray count;
    QByteArray roundTrips;
    QByteArray interval = "1000";
    bool totals = false;      // -s: the run's totals on stderr at the end
    bool failOnLoss = false;  // a host that lost some echoes counts as one that did not answer
};

struct ParsedCommandLine {
    CommandLineRequest request;
    QString error;  // empty when the request is whole and sound
    // --plugin was asked for, also when the request was refused: its
    // refusal is a status line too. Read from the arguments themselves
    // where the parse stopped early.
    bool plugin = false;
};

// The arguments after the program's name. -i FILE, -iFILE, --input FILE
// and --input=FILE alike; "--" ends the options. The request is refused
// here, before anything is opened, for an unknown or repeated option, a
// missing value, a stray argument, a batch run without both files, both
// runs at once, a timeout that the runs would refuse (said in the
// command line's words, not the window's), a number of echoes in flight
// that is not a whole number from 1 to 1024, a number of retries that is
// not one from 0 to 10, an option of the batch run given to --ping,
// --prometheus naming the output (or both standard output), -w or -c
// without --plugin or not as check_icmp takes them, or --plugin with an
// output of its own (--output, --json, --prometheus, --keep-partial), -4
// with -6, or -4 with an IPv6 address to --ping; a batch run with
// --plugin needs no --output. Hosts as arguments are refused with
// --input or --ping, and when one is empty, holds a line break or is
// longer than a list's line may be; -g's range when it is not one
// (host_range.h), or of IPv6 under -4. -a and -u are refused together;
// they and -q with --output - (standard output is theirs), with --json
// without --output, and for --ping and --plugin. A run of a list without
// -o needs one of them. -c with -C, a count that is not one from 1 to
// 100000, an interval that is not one from 1 to 3600000 ms (10 for a user
// who is not root), and -p or --fail-on-loss outside a count run are
// refused. -c is --count, but under --plugin check_icmp's --critical. No
// side effects.
ParsedCommandLine ParseCommandLine(const QByteArrayList& arguments);

// Where a batch run's output goes: --output's value; without it, "-"
// (standard output) for hosts given as arguments or by -g, and nowhere
// (empty) when -a, -u or -q take standard output or --plugin its line.
QByteArray OutputOf(const CommandLineRequest& request);

// The text of --help.
QString CommandLineHelp();

}  // namespace app
