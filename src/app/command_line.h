#pragma once

#include <optional>

// The batch run and the manual ping without a window, for schedulers and
// remote shells:
//   quorvex --input FILE --output FILE [--timeout MS] [--parallel N]
//           [--retries N] [--json] [--keep-partial] [--prometheus FILE]
//           [-4 | -6] [-c N | -C N] [-p MS] [-q] [-s] [--fail-on-loss]
//   quorvex --ping HOST [--timeout MS] [--json] [-4 | -6]
//   quorvex --plugin (--input FILE | --ping HOST) [-w RTA,PL%] [-c RTA,PL%] ...
//   quorvex [options] HOST...        hosts as a list's lines; output to stdout
//   quorvex [options] -g ADDRESS/BITS | -g FIRST LAST    a range, likewise
//   -a, -u, -q: standard output shows only the hosts that answered, only
//               those that did not, or nothing (in a count run, -q leaves
//               only the statistics); the output goes to -o only
// (command_line_parser.h). A regular output file takes the old one's place
// only when the run is done: a run ended by an error or by SIGINT, SIGTERM
// or SIGHUP leaves the old file as it was, and says so in its line.
// Exit status as fping's: 0 every host answered, 1 at least one did not,
// 2 the run was refused or ended with an error (one line on stderr); with
// --plugin, the Monitoring Plugins' 0 OK, 1 WARNING, 2 CRITICAL and
// 3 UNKNOWN, its status line on stdout. A count run (-c, -C) prints
// fping's per-host lines on stderr, also when SIGINT ends it.
int RunCommandLine(int argc, char** argv);

// With options, the command line's exit status; without options and
// without a display to open the window on, 2 after one line that says so;
// otherwise nothing: the window is to open.
std::optional<int> RunWithoutWindow(int argc, char** argv);
