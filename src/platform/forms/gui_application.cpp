#include "platform/forms/gui_application.h"

#include "platform/forms/dispatch.h"

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

}  // namespace

GuiApplication::GuiApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        setStyle(fusion);
    setFont(windowFont());
    setQuitOnLastWindowClosed(false);
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
