#pragma once

#include "platform/forms/msgbox.h"
#include "platform/seam.h"

#include <QApplication>
#include <QString>

namespace platform {

// The window system's application object: one per process, created by
// main() (and by the GUI tests' main) before any form.
//
// It gives every window the same look: the Fusion style and one font set
// by pixel size, so that the fixed twip layout of the forms holds on every
// desktop. It ends the program when no form is left loaded, not when the
// last window closes, and it is the last line of defence of the standard
// error report: an exception that escapes an event handler outside the
// event dispatch is reported here, and the program keeps running. While it
// lives, platform::MsgBox shows the window system's message box instead of
// the plain stderr line that the core libraries fall back on.
class GuiApplication final : public QApplication {
public:
    // The family and pixel size of the windows' font. 11 pixels is the
    // height of the 8.25 point font the forms were laid out with, at 96 DPI.
    static constexpr const char* kFontFamily = "Liberation Sans";
    static constexpr int kFontPixelSize = 11;

    GuiApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // The family actually in use: kFontFamily when it is installed,
    // otherwise the system's default sans-serif family.
    static QString fontFamily();

private:
    QtMessageBox messageBox_;
    ScopedFake<MessageBox> messageBoxInPlace_{messageBox_};
};

}  // namespace platform
