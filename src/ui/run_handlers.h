#pragma once

namespace ui {

// The Start button: one batch run (runs::BatchFilePing) over the window's
// file boxes, timeout, status bar and progress bar.
void cmdStart_Click();

// The Ping button: one manual ping (runs::ManualPing) of the host box, its
// verdict in the result label.
void cmdManPing_Click();

// Plugs the two handlers above into the main window; main() and the tests
// of the runs through the window call it.
void ConnectRunsToMainForm();

}  // namespace ui
