#include "platform/forms/form.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPalette>
#include <QPushButton>
#include <QThread>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace platform {
namespace {

// Every form that exists, loaded or unloaded and waiting to be deleted.
std::vector<Form*>& existingForms()
{
    static std::vector<Form*> forms;
    return forms;
}

// Ends the event loop, if one runs. Qt's exit() without a running loop
// would make the next modal dialog's loop return at once.
void endEventLoop()
{
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

// The look of a window behind the active one, for every state.
QPalette undimmed(QPalette palette)
{
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto r = static_cast<QPalette::ColorRole>(role);
        if (r != QPalette::NoRole)
            palette.setBrush(QPalette::Disabled, r, palette.brush(QPalette::Inactive, r));
    }
    return palette;
}

template <class Reply>
using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name)
{
    const XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Asks the window manager to leave the window out of the task bar. Qt has
// no property for it; the state is read by the window manager when the
// window is mapped and dropped when it is withdrawn, so it goes on the
// unmapped window before every show, beside what Qt itself puts there.
void skipTaskbar(QWidget* window)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t* connection = x11->connection();
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t skip = internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR");
    if (state == XCB_ATOM_NONE || skip == XCB_ATOM_NONE)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());

    const XcbReply<xcb_get_property_reply_t> present(
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, id, state, XCB_ATOM_ATOM, 0, 1024), nullptr),
        &std::free);
    if (present && present->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(present.get()));
        if (std::find(atoms, atoms + present->value_len, skip) != atoms + present->value_len)
            return;
    }
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 1, &skip);
    xcb_flush(connection);
}

}  // namespace

Form::Form(const QString& name, QAccessible::Role role) : accessibleRole_(role)
{
    setObjectName(name);
    setPalette(undimmed(palette()));
    existingForms().push_back(this);
}

Form::~Form()
{
    auto& forms = existingForms();
    forms.erase(std::remove(forms.begin(), forms.end(), this), forms.end());
    // An unloaded form is deleted once the handler that unloaded it has
    // returned: only then may the program end for want of a loaded form.
    if (LoadedFormCount() == 0)
        endEventLoop();
}

void Form::Show()
{
    if (isVisible()) {
        raise();
    } else if (!showInTaskbar_) {
        skipTaskbar(this);
    }
    show();
    activateWindow();
}

void Form::Unload()
{
    hide();
    unloaded_ = true;
    deleteLater();
}

void Form::setEnabled(bool enabled)
{
    if (!enabled && isEnabled())
        focusBeforeDisabled_ = focusWidget();
    QWidget::setEnabled(enabled);
    if (enabled && focusBeforeDisabled_) {
        focusBeforeDisabled_->setFocus();
        focusBeforeDisabled_ = nullptr;
    }
}

void Form::closeEvent(QCloseEvent* event)
{
    if (!isEnabled()) {
        event->ignore();
        return;
    }
    event->accept();
    unloaded_ = true;
    deleteLater();
}

void Form::keyPressEvent(QKeyEvent* event)
{
    const bool plain = !event->modifiers() ||
                       (event->modifiers() == Qt::KeypadModifier && event->key() == Qt::Key_Enter);
    QPushButton* target = nullptr;
    if (plain && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter))
        target = defaultButton_;
    else if (plain && event->key() == Qt::Key_Escape)
        target = cancelButton_;
    if (target && target->isVisible() && target->isEnabled()) {
        target->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Form::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !isActiveWindow() || isEnabled())
        return;
    const auto& forms = existingForms();
    const auto usable = std::find_if(forms.rbegin(), forms.rend(), [](const Form* f) {
        return !f->isUnloaded() && f->isVisible() && f->isEnabled();
    });
    if (usable != forms.rend()) {
        (*usable)->raise();
        (*usable)->activateWindow();
    }
}

int LoadedFormCount()
{
    const auto& forms = existingForms();
    return static_cast<int>(std::count_if(forms.begin(), forms.end(), [](const Form* f) { return !f->isUnloaded(); }));
}

void End()
{
    for (Form* form : existingForms()) {
        form->unloaded_ = true;
        form->hide();
    }
    endEventLoop();
}

void DestroyAllForms()
{
    while (!existingForms().empty())
        delete existingForms().back();
}

}  // namespace platform
