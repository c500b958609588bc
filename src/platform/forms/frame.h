#pragma once

#include <QGroupBox>

namespace platform {

// The frame control: a group box whose caption sits in its top border,
// interrupting the line, and whose children are placed from its outer
// top-left corner. Qt's styles draw the caption above the frame instead.
class Frame final : public QGroupBox {
    Q_OBJECT
public:
    Frame(const QString& caption, QWidget* parent);

    // Where the caption begins, from the frame's left edge.
    static constexpr int kCaptionLeft = 8;
    // The blank kept on each side of the caption where it cuts the line.
    static constexpr int kCaptionGap = 2;

    // The rectangle that the caption's text takes.
    QRect captionRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace platform
