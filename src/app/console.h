#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace app {

// Text for a terminal: characters of valid UTF-8 as they are, but control
// characters (C0, DEL, C1) and bytes that are not UTF-8 as \xNN, so that a
// host file cannot set the terminal's title or colours.
QByteArray TerminalText(const QByteArray& bytes);

// Standard error of the command line: one line per message, and on a
// terminal a progress line that the messages push aside.
//
// The progress line is drawn at most ten times a second, yet shows the
// host in progress within a tenth of a second: an update that comes too
// soon after the last drawing is drawn by a thread of its own when its
// time comes, even while the run waits for a silent host.
class Console {
public:
    Console();
    Console(const Console&) = delete;
    Console& operator=(const Console&) = delete;

    bool Terminal() const { return terminal_; }
    // "quorvex: " and the line; file names in it as the file system has them.
    void Say(const QString& line);
    // The last line said, without "quorvex: ": the error that ended a run,
    // for --plugin's UNKNOWN.
    QString LastSaid();
    // The hosts done, the total, and the host now started, as the list has it.
    void Progress(int done, int total, const QString& host);
    void ClearProgress();
    // Around a line on standard output when it shares the terminal: the
    // progress line is cleared and not drawn until the line is out.
    void StepAside();
    void StepBack();
    // Lines of the run's own on stderr, as they are (made fit for a
    // terminal already): the progress line steps aside for them.
    void Write(const QByteArray& lines);

private:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kRedraw{100};

    void drawLocked();
    void drawLate(std::stop_token stop);

    const bool terminal_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    QByteArray wanted_;   // the progress line to show; empty: none
    QByteArray shown_;    // the one on screen
    bool aside_ = false;  // between StepAside and StepBack: not to be drawn
    Clock::time_point drawn_{};
    QString said_;
    std::jthread drawer_;  // last: it stops and is joined before the members it uses go
};

}  // namespace app
