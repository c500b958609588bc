#include "platform/forms/progress_bar.h"

#include "platform/runtime_error.h"

#include <QProgressBar>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

constexpr int kInvalidPropertyValue = 380;

QString number(float value) { return QString::number(static_cast<double>(value), 'g', 9); }

}  // namespace

ProgressBar::ProgressBar(QWidget* parent) : QWidget(parent), bar_(new QProgressBar(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(bar_);
    bar_->setOrientation(Qt::Horizontal);
    bar_->setTextVisible(false);
    // The Qt bar always has a non-empty range, so that it never switches to
    // its busy animation; an empty range of the control draws as an empty bar.
    bar_->setRange(0, 1);
    bar_->setFocusPolicy(Qt::NoFocus);
    setFocusPolicy(Qt::NoFocus);
    draw();
}

void ProgressBar::setMin(float min)
{
    if (min > max_)
        throw RuntimeError(kInvalidPropertyValue, QStringLiteral("the progress minimum %1 lies above the maximum %2.")
                                                      .arg(number(min), number(max_)));
    min_ = min;
    if (value_ < min_)
        value_ = min_;
    draw();
}

void ProgressBar::setMax(float max)
{
    if (max < min_)
        throw RuntimeError(kInvalidPropertyValue, QStringLiteral("the progress maximum %1 lies below the minimum %2.")
                                                      .arg(number(max), number(min_)));
    max_ = max;
    if (value_ > max_)
        value_ = max_;
    draw();
}

void ProgressBar::setValue(float value)
{
    if (!(value >= min_ && value <= max_))
        throw RuntimeError(kInvalidPropertyValue, QStringLiteral("the progress value %1 lies outside %2 to %3.")
                                                      .arg(number(value), number(min_), number(max_)));
    value_ = value;
    draw(true);
}

void ProgressBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    QStyleOptionProgressBar option;
    option.initFrom(bar_);
    option.rect = rect();
    fillArea_ = bar_->style()->subElementRect(QStyle::SE_ProgressBarContents, &option, bar_);
    bar_->setRange(0, std::max(1, fillArea_.width()));
    draw();
}

void ProgressBar::draw(bool whenDue)
{
    const double span = static_cast<double>(max_) - static_cast<double>(min_);
    const int pixels =
        span > 0.0 ? static_cast<int>(std::lround((static_cast<double>(value_) - min_) / span * bar_->maximum())) : 0;
    const int before = bar_->value();
    if (pixels == before)
        return;
    const auto now = std::chrono::steady_clock::now();
    const bool ends = pixels == bar_->minimum() || pixels == bar_->maximum();
    if (whenDue && !ends && now - paintedAt_ < kFrame) {
        // The Qt bar keeps the value it shows until then: it would repaint
        // itself whole once its fill fell a chunk behind.
        if (!paintQueued_) {
            paintQueued_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    paintQueued_ = false;
                    draw();
                },
                Qt::QueuedConnection);
        }
        return;
    }
    paintedAt_ = now;
    bar_->setValue(pixels);
    // Only the columns around the end of the fill change; a margin takes
    // the style's edge line and rounded corner along.
    constexpr int kMargin = 3;
    const int left = fillArea_.left() + std::min(std::max(before, 0), pixels) - kMargin;
    const int right = fillArea_.left() + std::max(before, pixels) + kMargin;
    bar_->repaint(left, 0, right - left + 1, bar_->height());
}

}  // namespace platform
