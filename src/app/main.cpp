#include "platform/forms/form.h"
#include "platform/forms/gui_application.h"
#include "ui/main_form.h"

// The program: the application object, the main window, the event loop.
// Handlers that other layers implement are plugged into the window here.
int main(int argc, char** argv)
{
    platform::GuiApplication app(argc, argv);

    ui::mainFrm().Show();
    const int exitCode = app.exec();

    platform::DestroyAllForms();
    return exitCode;
}
