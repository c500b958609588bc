#include "platform/forms/gui_application.h"

#include "platform/forms/dispatch.h"
#include "platform/forms/form.h"

#include <QAccessibleWidget>
#include <QFont>
#include <QFontDatabase>
#include <QStyleFactory>
#include <QtGlobal>

namespace platform {
namespace {

QFont windowFont()
{
    QFont font;
    if (QFontDatabase::hasFamily(QString::fromLatin1(GuiApplication::kFontFamily))) {
        font.setFamily(QString::fromLatin1(GuiApplication::kFontFamily));
    } else {
        qWarning("Font \"%s\" is not installed (Debian package fonts-liberation); "
                 "captions may not fit their controls.",
                 GuiApplication::kFontFamily);
        font.setStyleHint(QFont::SansSerif);
        font.setFamily(QStringLiteral("Sans Serif"));
    }
    font.setPixelSize(GuiApplication::kFontPixelSize);
    font.setWeight(QFont::Normal);
    return font;
}

// A form presents itself to assistive technology as the kind of window it
// is, named by its caption; Qt would present a plain widget as a filler.
QAccessibleInterface* formAccessible(const QString&, QObject* object)
{
    if (auto* form = qobject_cast<Form*>(object))
        return new QAccessibleWidget(form, form->accessibleRole());
    return nullptr;
}

}  // namespace

GuiApplication::GuiApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        setStyle(fusion);
    setFont(windowFont());
    setQuitOnLastWindowClosed(false);
    QAccessible::installFactory(formAccessible);
}

bool GuiApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}

QString GuiApplication::fontFamily() { return QApplication::font().family(); }

}  // namespace platform
