#pragma once

#include <QString>

namespace runs {

// What the batch run reads and shows: the main window's controls, or what
// the command line gave and the terminal shows.
class BatchControls {
public:
    virtual ~BatchControls() = default;
    virtual QString InputPath() = 0;                        // txtInput.Text
    virtual QString OutputPath() = 0;                       // txtOutput.Text
    virtual QString TimeoutText() = 0;                      // txtPingtimeout.Text
    virtual void SetStatusText(const QString& text) = 0;    // StatusBar.SimpleText
    virtual float ProgressValue() = 0;                      // ProgressBar1.Value
    virtual void SetProgressValue(float value) = 0;
    virtual void SetProgressMax(float max) = 0;             // ProgressBar1.Max
    // The host whose turn it is; the window shows nothing for it.
    virtual void HostStarting(const QString& host) { (void)host; }
};

// One batch run: every host of the input file up to its first empty line
// is pinged once, in file order; each one that did not answer gets a line
// in the output file. Returns how many lines that made, which the file
// cannot tell when it is a device or a pipe. With parallel above 1, that
// many echoes are in flight at once (ParallelBatchPing); the file is the
// same.
int BatchFilePing(BatchControls& controls, int parallel = 1);

// The Start button of the main window.
void cmdStart_Click();

}  // namespace runs
