#pragma once

#include <optional>

// The batch run and the manual ping without a window, for schedulers and
// remote shells:
//   quorvex --input FILE --output FILE [--timeout MS]
//   quorvex --ping HOST [--timeout MS]
// Exit status as fping's: 0 every host answered, 1 at least one did not,
// 2 the run was refused or ended with an error (one line on stderr).
int RunCommandLine(int argc, char** argv);

// With options, the command line's exit status; without options and
// without a display to open the window on, 2 after one line that says so;
// otherwise nothing: the window is to open.
std::optional<int> RunWithoutWindow(int argc, char** argv);
