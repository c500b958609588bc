#include "about/about_form.h"
#include "platform/forms/form.h"
#include "platform/forms/gui_application.h"
#include "platform/net/icmp_rights.h"
#include "ui/main_form.h"
#include "ui/run_handlers.h"
#include "programs/standard_streams.h"

#include <cstdio>

// The window program, which quorvex runs in its own place when it has no
// options: the application object, the main window and the event loop.
// Handlers that other layers implement are plugged into the window here.
int main(int argc, char** argv)
{
    programs::openClosedStandardStreams();
    // Without an ICMP socket every echo fails alike; say so, and how to fix
    // it, before anything else.
    const QString advice = platform::missingIcmpRightsAdvice();
    if (!advice.isEmpty())
        std::fprintf(stderr, "quorvex: %s\n", qPrintable(advice));

    platform::GuiApplication app(argc, argv);
    ui::ConnectRunsToMainForm();
    about::ConnectToMainForm();

    ui::OpenMainWindow(advice);
    const int exitCode = app.exec();

    platform::DestroyAllForms();
    return exitCode;
}
