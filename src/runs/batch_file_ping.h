#pragma once

#include "runs/batch_file.h"
#include "runs/batch_output.h"
#include "runs/host_list.h"

#include <QString>

namespace runs {

// What the batch run reads and shows: the main window's controls, or what
// the command line gave and the terminal shows.
class BatchControls {
public:
    virtual ~BatchControls() = default;
    virtual BatchFile InputFile() = 0;                    // txtInput.Text
    virtual BatchFile OutputFile() = 0;                   // txtOutput.Text
    virtual QString TimeoutText() = 0;                    // txtPingtimeout.Text
    virtual void SetStatusText(const QString& text) = 0;  // StatusBar.SimpleText
    virtual float ProgressValue() = 0;                    // ProgressBar1.Value
    virtual void SetProgressValue(float value) = 0;
    virtual void SetProgressMax(float max) = 0;  // ProgressBar1.Max
    // The host whose turn it is; the window shows nothing for it.
    virtual void HostStarting(const QString& host) { (void)host; }

    // The command line counts the list before it creates the output, so
    // that a list it refuses leaves the last output as it was, and tells of
    // lines left behind an empty line. The window keeps the design's order
    // (the output is replaced first) and says nothing of them.
    virtual bool ListBeforeOutput() { return false; }
    virtual void ListCutShort(const HostList::CutShort& cut) { (void)cut; }
    // More echoes for a host whose echo timed out (BatchLines::retries);
    // the window sends one.
    virtual int Retries() { return 0; }

    // The window writes the design's text; the command line may ask for
    // JSON Lines.
    virtual OutputFormat Format() { return OutputFormat::Text; }
    // Around each line of the output: a progress line on the same terminal
    // steps aside for it.
    // Every host's result, in list order, for what the command line writes
    // besides the output.
    virtual void Settled(const HostResult& result) { (void)result; }
    virtual void BeforeOutputLine() {}
    virtual void AfterOutputLine() {}
};

struct BatchTotals {
    int pinged = 0;        // hosts that got Windows Sockets and their echo
    int didNotAnswer = 0;  // hosts that did not answer
};

// One batch run: every host of the input file up to its first empty line
// is pinged once, in file order; each one that did not answer gets a line
// in the output file. With parallel above 1, that many echoes are in
// flight at once (ParallelBatchPing); the output is the same.
BatchTotals BatchFilePing(BatchControls& controls, int parallel = 1);

}  // namespace runs
