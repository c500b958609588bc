#include "platform/forms/frame.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <qdrawutil.h>

namespace platform {

Frame::Frame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}

QRect Frame::captionRect() const
{
    const QFontMetrics metrics(font());
    return {kCaptionLeft, 0, metrics.horizontalAdvance(title()), metrics.height()};
}

void Frame::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect caption = captionRect();

    // An etched line, as frames have on the platform being stood in for.
    // The style's own group box frame cannot be used: it leaves room for a
    // caption above itself.
    qDrawShadeRect(&painter, rect().adjusted(0, caption.height() / 2, 0, 0), palette(), true, 1, 0);

    if (title().isEmpty())
        return;
    painter.fillRect(caption.adjusted(-kCaptionGap, 0, kCaptionGap, 0), palette().window());
    style()->drawItemText(&painter, caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextHideMnemonic, palette(),
                          isEnabled(), title(), QPalette::WindowText);
}

}  // namespace platform
