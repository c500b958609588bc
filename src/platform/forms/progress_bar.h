#pragma once

#include <QWidget>

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
// shows is painted at once; one that does not move the fill by a pixel
// paints nothing, since a repaint costs far more than a loopback echo.
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

    // The Qt bar that draws it, for tests. Its range is the width of its
    // fill area in pixels, so its value is the number of pixels filled.
    QProgressBar* bar() const { return bar_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void draw();

    QProgressBar* bar_;
    QRect fillArea_;  // where the Qt bar draws its fill, in its own pixels
    float min_ = 0.0f;
    float max_ = 100.0f;
    float value_ = 0.0f;
};

}  // namespace platform
