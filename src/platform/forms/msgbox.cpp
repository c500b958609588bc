#include "platform/forms/msgbox.h"

#include "platform/app.h"

#include <QApplication>
#include <QMessageBox>

namespace platform {
namespace {

QMessageBox::Icon iconFor(int style)
{
    switch (style & 0x70) {
    case msgbox_style::Critical: return QMessageBox::Critical;
    case 32: return QMessageBox::Question;
    case msgbox_style::Exclamation: return QMessageBox::Warning;
    case 64: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

}  // namespace

void QtMessageBox::show(const QString& prompt, int style)
{
    // The active window as parent only places the box over it; the box
    // is modal to the whole application either way.
    QMessageBox box(iconFor(style), App().Title, prompt, QMessageBox::Ok, QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

}  // namespace platform
