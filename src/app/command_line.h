#pragma once

// The batch run and the manual ping without a window, for schedulers and
// remote shells:
//   quorvex --input FILE --output FILE [--timeout MS]
//   quorvex --ping HOST [--timeout MS]
// Exit status as fping's: 0 every host answered, 1 at least one did not,
// 2 the run ended with an error (message on stderr).
int RunCommandLine(int argc, char** argv);
