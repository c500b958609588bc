#pragma once

namespace runs {

// Plugs the Ping and Start handlers into the main window.
void ConnectToMainForm();

}  // namespace runs
