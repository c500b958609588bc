#pragma once

namespace platform {

// Whether the standard error stream goes to a terminal, where a progress
// line may be redrawn in place.
bool StandardErrorIsTerminal();
// Whether the standard output stream goes to a terminal, which would take
// control characters in what is written there as commands.
bool StandardOutputIsTerminal();

}  // namespace platform
