#pragma once

#include "platform/forms/common_dialog.h"
#include "platform/forms/form.h"
#include "platform/forms/frame.h"
#include "platform/forms/progress_bar.h"
#include "platform/forms/status_bar.h"

#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <functional>

namespace ui {

// The main window. Its controls are public and carry their designer names,
// as C++ members and as Qt object names, so that every handler reads and
// writes them by name: mainFrm().txtHost->text(),
// mainFrm().ProgressBar1->setValue(...), mainFrm().StatusBar->setSimpleText(...).
// Every start value comes from the constructor (the form as laid out);
// Form_Load only sets the caption.
class MainForm final : public platform::Form {
    Q_OBJECT
public:
    MainForm();

    void Form_Load() override;

    // Handlers that live with the window.
    void cmdClose_Click();
    void cmdInput_Click();
    void cmdOutput_Click();

    // The controls, in the order in which the form holds them.
    QPushButton* cmdClose;
    platform::Frame* Frame2;
    QPushButton* cmdManPing;
    QLineEdit* txtHost;
    QLabel* Label6;
    QLabel* Label5;
    platform::Frame* Frame1;
    platform::ProgressBar* ProgressBar1;
    QLineEdit* txtPingtimeout;
    QLineEdit* txtInput;
    QLineEdit* txtOutput;
    QPushButton* cmdInput;
    QPushButton* cmdOutput;
    QPushButton* cmdStart;
    QLabel* Label4;
    QLabel* Label3;
    QLabel* Label2;
    QLabel* Label1;
    QPushButton* cmdAbout;
    platform::StatusBar* StatusBar;
    platform::CommonDialog* CommonDialog1;
};

// The program's icon, the window icon of every form: a 32 x 32 picture in 16
// colours, with the same picture enlarged for dense screens.
QIcon ProgramIcon();

// The one instance of the main window, loaded on first use.
MainForm& mainFrm();
bool mainFrmLoaded();

// Shows the main window at the program's start. Started from the desktop's
// menu, nobody reads stderr: when the start-up check found no way to send
// an echo, a message box first gives its advice, with the fix.
void OpenMainWindow(const QString& icmpRightsAdvice);

// Click handlers of the window that other layers implement (the two ping
// runs and the About dialog). main() plugs them in; a button whose handler
// is empty does nothing. They are looked up at every click and run through
// the event dispatch, so an error in them gets the standard error report.
struct MainFormHandlers {
    std::function<void()> cmdManPing_Click;
    std::function<void()> cmdStart_Click;
    std::function<void()> cmdAbout_Click;
};
MainFormHandlers& mainFrmHandlers();

}  // namespace ui
