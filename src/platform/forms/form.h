#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

namespace platform {

// A form of the window system: a top-level window that exists once, is
// reachable by its name through FormInstance<F>(), is loaded on first use
// and runs Form_Load at every load. Unloading drops the instance; the next
// use loads a fresh one. The program ends when no form is left loaded.
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

protected:
    explicit Form(const QString& name);

    // The window's own close command unloads the form; no handler of the
    // program runs.
    void closeEvent(QCloseEvent* event) override;

private:
    friend void End();
    void forget();

    bool unloaded_ = false;
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
