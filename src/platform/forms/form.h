#pragma once

#include <QAccessible>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace platform {

// A form of the window system: a top-level window that exists once, is
// reachable by its name through FormInstance<F>(), is loaded on first use
// and runs Form_Load at every load. Unloading drops the instance; the next
// use loads a fresh one. The program ends when no form is left loaded once
// the handler that unloaded the last one has returned, so a handler may
// unload its own form and then show another.
class Form : public QWidget {
    Q_OBJECT
public:
    ~Form() override;

    // Runs once after construction, at every load.
    virtual void Form_Load() {}

    // Shows the form modeless and brings it to the front.
    void Show();

    // Closes the window without asking the form and drops its instance.
    void Unload();

    bool isUnloaded() const { return unloaded_; }

    // The Enabled property. A disabled form takes no mouse or keyboard input
    // and ignores its own close command, but its controls keep their look:
    // the window system this program was made for does not grey them. The
    // control that had the focus gets it back once the form is enabled.
    bool Enabled() const { return isEnabled(); }
    void setEnabled(bool enabled);

    // The ShowInTaskbar property: whether the window has a button of its
    // own in the task bar. Takes effect at the next Show.
    bool ShowInTaskbar() const { return showInTaskbar_; }
    void setShowInTaskbar(bool show) { showInTaskbar_ = show; }

    // The buttons that Enter and Esc press where the focused control does
    // not take the key itself. A focused button takes Enter when it is an
    // auto-default button.
    void setDefaultButton(QPushButton* button) { defaultButton_ = button; }
    void setCancelButton(QPushButton* button) { cancelButton_ = button; }

    // What the window presents itself as to assistive technology.
    QAccessible::Role accessibleRole() const { return accessibleRole_; }

protected:
    explicit Form(const QString& name, QAccessible::Role role = QAccessible::Window);

    // The window's own close command unloads the form; no handler of the
    // program runs. A disabled form stays.
    void closeEvent(QCloseEvent* event) override;

    void keyPressEvent(QKeyEvent* event) override;

    // A disabled form cannot become the active window: the window manager's
    // attempt (a click on it, the task bar) raises and activates the form
    // that takes input instead, so a dialog never hides behind its owner.
    void changeEvent(QEvent* event) override;

private:
    friend void End();

    bool unloaded_ = false;
    bool showInTaskbar_ = true;
    QAccessible::Role accessibleRole_;
    QPointer<QWidget> focusBeforeDisabled_;
    QPointer<QPushButton> defaultButton_;
    QPointer<QPushButton> cancelButton_;
};

// How many forms are loaded now.
int LoadedFormCount();

// Ends the program at once: every form disappears without running a
// handler, and the event loop returns.
void End();

// Deletes every form that still exists, loaded or already unloaded. main()
// calls it after the event loop has returned, and the tests after each case.
void DestroyAllForms();

// The one instance of form F, loaded (constructed, then Form_Load) on first
// use and after every unload.
template <class F>
class FormInstance {
public:
    static F& get()
    {
        if (!loaded()) {
            instance_ = new F;
            instance_->Form_Load();
        }
        return *instance_;
    }

    static bool loaded() { return instance_ && !instance_->isUnloaded(); }

private:
    static inline QPointer<F> instance_;
};

}  // namespace platform
