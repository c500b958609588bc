#pragma once

#include "runs/batch_file.h"
#include "runs/batch_output.h"
#include "runs/host_list.h"
#include "runs/host_pipeline.h"

#include <QString>

#include <functional>
#include <optional>

namespace runs {

// What the window's batch run reads and shows: the main window's controls.
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
};

struct BatchTotals {
    int pinged = 0;        // hosts that got Windows Sockets and their echo
    int didNotAnswer = 0;  // hosts that did not answer
    int lostSome = 0;      // a count run's hosts that answered but lost echoes, with failOnLoss
};

// The window's batch run: every host of the input file up to its first
// empty line is pinged once, in file order, through Windows Sockets and
// the reply record; each one that did not answer gets a line in the output
// file, which is replaced before the list is read.
BatchTotals BatchFilePing(BatchControls& controls);

// Hosts that come from no file (the command line's arguments, a range):
// `count` of them, each handed out by `next` as a list's line would be.
// No list's limit of hosts holds for them.
struct GivenHosts {
    int count = 0;
    std::function<std::optional<QString>()> next;
};

// What the command line asked of its batch run.
struct BatchOptions {
    BatchFile input;
    BatchFile output;
    OutputFormat format = OutputFormat::Text;
    PipelineOptions pipeline;
    std::optional<GivenHosts> given = std::nullopt;  // in place of the input
    // Standard output besides the output, in a format of its own (-a, -u).
    std::optional<OutputFormat> shown = std::nullopt;
    CountOutput count = {};  // for pipeline.count > 0
    // Whether BatchEvents hears of every host read and every echo; a
    // count run's events always do.
    bool echoEvents = false;
};

// What the command line shows of its batch run while it goes.
class BatchEvents {
public:
    virtual ~BatchEvents() = default;
    // The list was counted; the output is about to be created.
    virtual void Counted(int hosts) { (void)hosts; }
    virtual void ListCutShort(const HostList::CutShort& cut) { (void)cut; }
    virtual void Progress(int settled, const QString& host) { (void)settled, (void)host; }
    // Every host's result, in list order, for what the command line writes
    // besides the output.
    virtual void Settled(const HostResult& result) { (void)result; }
    // Every host read, every echo before it goes out and once it has
    // settled (PipelineHosts), for the statistics on stderr.
    virtual void Read(int line, const QString& host) { (void)line, (void)host; }
    virtual void Sending(int line, int seq) { (void)line, (void)seq; }
    virtual void Echoed(const HostResult& echo, int seq) { (void)echo, (void)seq; }
    // Around each write to the output: a progress line on the same terminal
    // steps aside for it.
    virtual void BeforeOutputLine() {}
    virtual void AfterOutputLine() {}
};

// The command line's batch run: the same list, output and frame as the
// window's, but the list is counted before the output is created (a list
// it refuses leaves the last output as it was, and lines left behind an
// empty line are told of), and its hosts go through RunPipeline.
BatchTotals PipelineBatchPing(const BatchOptions& options, BatchEvents& events);

}  // namespace runs
