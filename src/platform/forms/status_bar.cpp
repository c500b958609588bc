#include "platform/forms/status_bar.h"

#include "platform/runtime_error.h"

#include <QEvent>
#include <QLabel>

namespace platform {
namespace {

constexpr int kInvalidIndex = 35600;  // "Index out of bounds" of the control

}  // namespace

StatusBar::StatusBar(QWidget* form, int height)
    : QStatusBar(form), form_(form), height_(height), simpleText_(new QLabel(this))
{
    simpleText_->setObjectName(QStringLiteral("SimpleText"));
    simpleText_->setTextFormat(Qt::PlainText);
    simpleText_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    addWidget(simpleText_, 1);
    setFocusPolicy(Qt::NoFocus);
    form_->installEventFilter(this);
    dock();
}

QString StatusBar::SimpleText() const { return simpleText_->text(); }

void StatusBar::setSimpleText(const QString& text)
{
    simpleText_->setText(text);
    simpleText_->repaint();
}

QString StatusBar::PanelText(int index) const { return panels_.at(panelPosition(index)); }

void StatusBar::setPanelText(int index, const QString& text) { panels_[panelPosition(index)] = text; }

qsizetype StatusBar::panelPosition(int index) const
{
    if (index < 1 || index > PanelCount())
        throw RuntimeError(kInvalidIndex, QStringLiteral("there is no status bar panel %1.").arg(index));
    return index - 1;
}

void StatusBar::addPanel(const QString& text) { panels_.append(text); }

bool StatusBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == form_ && event->type() == QEvent::Resize)
        dock();
    return QStatusBar::eventFilter(watched, event);
}

bool StatusBar::event(QEvent* event)
{
    // Status tips that reach the bar itself are dropped: nothing but the
    // program writes the simple text.
    if (event->type() == QEvent::StatusTip)
        return true;
    return QStatusBar::event(event);
}

void StatusBar::dock() { setGeometry(0, form_->height() - height_, form_->width(), height_); }

}  // namespace platform
