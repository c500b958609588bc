#pragma once

#include <QWidget>

#include <chrono>

class QProgressBar;

namespace platform {

// The progress bar control: Min, Max and Value in single precision over a
// QProgressBar, horizontal, without text. It starts at 0, 100 and 0.
//
// A Value outside Min to Max, or a Max below Min, is an invalid property
// value (runtime error 380). Moving Min or Max past Value pulls Value along.
// Max equal to Min is allowed and shows an empty bar (Qt would show a busy
// animation for an empty range).
//
// The handlers that advance the bar hold the thread, so a change that
// shows is painted at once, without the event loop; one that does not move
// the fill by a pixel paints nothing, since a repaint costs far more than a
// loopback echo. Nor does a change paint within a frame of the last paint,
// unless it empties or fills the bar: on a display server a repaint waits
// for the server (half a millisecond under Xvfb), and a fast run
// moves the fill by a pixel every few dozen hosts. The next change after
// the frame paints what is due, and so does the event loop once the
// handler returns.
class ProgressBar final : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent);

    float Min() const { return min_; }
    float Max() const { return max_; }
    float Value() const { return value_; }

    void setMin(float min);
    void setMax(float max);
    void setValue(float value);

    // The least time between two paints of a moving fill: two frames of a
    // 60 Hz display, which a filling bar does not need more often, and
    // under which its paints cost a loopback run some 2 % of its time.
    static constexpr std::chrono::milliseconds kFrame{33};

    // The Qt bar that draws it, for tests. Its range is the width of its
    // fill area in pixels, so its value is the number of pixels filled.
    QProgressBar* bar() const { return bar_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // Paints the fill that Value asks for; `whenDue` leaves a change of the
    // fill to the next frame, or to the event loop.
    void draw(bool whenDue = false);

    QProgressBar* bar_;
    QRect fillArea_;  // where the Qt bar draws its fill, in its own pixels
    float min_ = 0.0f;
    float max_ = 100.0f;
    float value_ = 0.0f;
    std::chrono::steady_clock::time_point paintedAt_;
    bool paintQueued_ = false;
};

}  // namespace platform
