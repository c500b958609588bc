#include "about/about_form.h"
#include "platform/forms/form.h"
#include "platform/forms/gui_application.h"
#include "platform/net/icmp_rights.h"
#include "runs/connect.h"
#include "ui/main_form.h"

#include <cstdio>

// The program: the application object, the main window, the event loop.
// Handlers that other layers implement are plugged into the window here.
int main(int argc, char** argv)
{
    // Without an ICMP socket every echo fails alike; say so, and how to fix
    // it, before anything else.
    if (const QString advice = platform::icmp::missingIcmpRightsAdvice(); !advice.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(advice));

    platform::GuiApplication app(argc, argv);
    runs::ConnectToMainForm();
    about::ConnectToMainForm();

    ui::mainFrm().Show();
    const int exitCode = app.exec();

    platform::DestroyAllForms();
    return exitCode;
}
