// The main of GUI test programs: the program's own application object (its
// style, font and error report), then every test. Tests run under the
// offscreen platform unless QT_QPA_PLATFORM names another (xcb under Xvfb to
// watch them); test discovery runs the program without CTest's environment.
#include "platform/forms/gui_application.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::GuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
