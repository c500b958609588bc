#pragma once

namespace platform {

// Whether the standard error stream goes to a terminal, where a progress
// line may be redrawn in place.
bool StandardErrorIsTerminal();

}  // namespace platform
