#include "platform/forms/gui_application.h"

#include "platform/app_info.h"
#include "platform/forms/dispatch.h"
#include "platform/forms/form.h"

#include <QAccessibleWidget>
#include <QFont>
#include <QFontDatabase>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>
#include <QtGlobal>

namespace platform {
namespace {

QFont windowFont()
{
    QFont font;
    if (QFontDatabase::hasFamily(QString::fromLatin1(GuiApplication::kFontFamily))) {
        font.setFamily(QString::fromLatin1(GuiApplication::kFontFamily));
    } else {
        qWarning(
            "Font \"%s\" is not installed (Debian package fonts-liberation); "
            "captions may not fit their controls.",
            GuiApplication::kFontFamily);
        font.setStyleHint(QFont::SansSerif);
        font.setFamily(QStringLiteral("Sans Serif"));
    }
    font.setPixelSize(GuiApplication::kFontPixelSize);
    font.setWeight(QFont::Normal);
    return font;
}

// The Fusion style, except that a control that is disabled only because its
// form is disabled is drawn as an enabled one: the window system this
// program was made for leaves a disabled window's controls as they were.
// (The form's palette does the same for the colours.)
class FormStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override
    {
        const Undimmed undimmed(option, widget);
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override
    {
        const Undimmed undimmed(option, widget);
        QProxyStyle::drawControl(element, option, painter, widget);
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget) const override
    {
        const Undimmed undimmed(option, widget);
        QProxyStyle::drawComplexControl(control, option, painter, widget);
    }

private:
    // Marks the option enabled for one drawing call. The options come from
    // the widgets' paint events, which own them; only the state changes,
    // and it is put back before the call returns.
    class Undimmed {
    public:
        Undimmed(const QStyleOption* option, const QWidget* widget)
        {
            if (!option || !widget || (option->state & State_Enabled))
                return;
            const QWidget* window = widget->window();
            if (!qobject_cast<const Form*>(window) || window->isEnabled() || !widget->isEnabledTo(window))
                return;
            option_ = const_cast<QStyleOption*>(option);
            option_->state |= State_Enabled;
        }
        ~Undimmed()
        {
            if (option_)
                option_->state &= ~State_Enabled;
        }
        Undimmed(const Undimmed&) = delete;
        Undimmed& operator=(const Undimmed&) = delete;

    private:
        QStyleOption* option_ = nullptr;
    };
};

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
        setStyle(new FormStyle(fusion));
    setFont(windowFont());
    setQuitOnLastWindowClosed(false);
    QAccessible::installFactory(formAccessible);
    // Lets the desktop match the windows to their launcher and icon; on
    // Wayland it is also the application id.
    setDesktopFileName(QString::fromLatin1(app_info::app_id));
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
