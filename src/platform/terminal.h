#pragma once

namespace platform {

// Whether the standard error stream goes to a terminal, where a progress
// line may be redrawn in place.
bool StandardErrorIsTerminal();
// Whether the standard output stream goes to a terminal, which would take
// control characters in what is written there as commands.
bool StandardOutputIsTerminal();

// Whether standard output goes to the terminal that standard error goes
// to, so that lines on it would run into the progress line.
bool StandardOutputSharesTerminal();

}  // namespace platform
