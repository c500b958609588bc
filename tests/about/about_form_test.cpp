// The About dialog as the operator meets it, opened by the main window's
// About button.

#include "about/about_form.h"
#include "support/fake_system.h"
#include "support/recording_msgbox.h"

#include "../ui/ui_fixture.h"

#include <QTest>

namespace {

using about::AboutForm;
using about::frmAbout;
using ui::mainFrm;

class AboutDialogTest : public UiTest {
protected:
    AboutForm& openFromMainWindow()
    {
        about::ConnectToMainForm();
        mainFrm().Show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&mainFrm()));
        mainFrm().cmdAbout->click();
        EXPECT_TRUE(about::frmAboutLoaded());
        EXPECT_FALSE(mainFrm().Enabled());
        EXPECT_TRUE(QTest::qWaitForWindowActive(&frmAbout()));
        return frmAbout();
    }
};

TEST_F(AboutDialogTest, TextsTabOrderLayoutRuleAndWindowKind)
{
    AboutForm& dialog = openFromMainWindow();
    EXPECT_EQ(dialog.windowTitle(), "About Quorvex");
    EXPECT_EQ(dialog.lblTitle->text(), "Quorvex");
    EXPECT_EQ(dialog.lblVersion->text(), "Version 1.2.0");
    EXPECT_EQ(dialog.lblDescription->text(),
              "Quorvex reads the input file and pings the targets listen in the file. The hosts that doesn't respond "
              "to ping is written in the output file. This program was originally written for the active monitoring "
              "deparment at a mayor car company.");
    EXPECT_EQ(dialog.lblDisclaimer->text().toStdString(), " Quorvex is made and kept up by the Quorvex developers.")
        << "the empty notice, one blank and the credit";

    // Tab goes by tab index through what takes the focus, and round.
    EXPECT_EQ(QApplication::focusWidget(), dialog.cmdOK);
    for (QWidget* next : {static_cast<QWidget*>(dialog.picIcon), static_cast<QWidget*>(dialog.cmdSysInfo),
                          static_cast<QWidget*>(dialog.cmdOK)}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }

    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    const QList<QWidget*> controls = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* control : controls) {
        SCOPED_TRACE(control->objectName().toStdString());
        EXPECT_TRUE(dialog.rect().contains(control->geometry()));
        for (QWidget* other : controls)
            EXPECT_TRUE(other == control || !other->geometry().intersects(control->geometry()));
        EXPECT_LE(control->sizeHint().width(), control->width());
        EXPECT_LE(control->heightForWidth(control->width()), control->height());
    }

    // The grey rule runs across the dialog, between description and disclaimer.
    const QImage image = dialog.grab().toImage();
    const QRgb grey = qRgb(128, 128, 128);
    int rule = 0;
    while (rule < image.height() && (image.pixel(8, rule) != grey || image.pixel(image.width() - 8, rule) != grey))
        ++rule;
    EXPECT_GT(rule, dialog.lblDescription->geometry().bottom());
    EXPECT_LT(rule, dialog.lblDisclaimer->geometry().top());

    EXPECT_FALSE(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(dialog.ShowInTaskbar());
    for (auto [window, role] :
         {std::pair<QWidget*, QAccessible::Role>{&dialog, QAccessible::Dialog}, {&mainFrm(), QAccessible::Window}}) {
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(window);
        EXPECT_EQ(accessible->role(), role);
        EXPECT_EQ(accessible->text(QAccessible::Name), window->windowTitle());
    }
}

TEST_F(AboutDialogTest, EveryWayOfClosingGivesTheMainWindowBackAndTheProgramGoesOn)
{
    const std::pair<const char*, std::function<void(AboutForm&)>> ways[] = {
        {"OK clicked", [](AboutForm& d) { QTest::mouseClick(d.cmdOK, Qt::LeftButton); }},
        {"Esc on System Info", [](AboutForm& d) { QTest::keyClick(d.cmdSysInfo, Qt::Key_Escape); }},
        {"Enter on OK", [](AboutForm& d) { QTest::keyClick(d.cmdOK, Qt::Key_Return); }},
        {"Enter on the icon", [](AboutForm& d) { QTest::keyClick(d.picIcon, Qt::Key_Enter, Qt::KeypadModifier); }},
        {"space on OK", [](AboutForm& d) { QTest::keyClick(d.cmdOK, Qt::Key_Space); }},
        {"the close command", [](AboutForm& d) { d.close(); }},
    };
    // Not a structured binding: clang 14, which builds the fuzzers and the
    // sanitized suite, cannot capture one in a lambda.
    for (const auto& way : ways) {
        const auto& close = way.second;
        SCOPED_TRACE(way.first);
        AboutForm& dialog = openFromMainWindow();
        after(0, [&] { close(dialog); });
        after(100, [] { QCoreApplication::exit(7); });
        EXPECT_EQ(runEventLoop(), 7) << "the program ended with the dialog";
        EXPECT_FALSE(about::frmAboutLoaded());
        ASSERT_TRUE(ui::mainFrmLoaded());
        EXPECT_TRUE(mainFrm().Enabled());
        EXPECT_EQ(QApplication::activeWindow(), &mainFrm());
        EXPECT_EQ(QApplication::focusWidget(), mainFrm().cmdAbout);
    }
}

TEST_F(AboutDialogTest, SystemInfoByMouseAltSEnterOrSpaceLeavesTheDialogOpen)
{
    RecordingRegistry registry({{"SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", {{"PATH", platform::RegSz("/bin/x")}}}});
    RecordingProgramStart start;
    RecordingMessageBox boxes;
    AboutForm& dialog = openFromMainWindow();

    QTest::mouseClick(dialog.cmdSysInfo, Qt::LeftButton);
    QTest::keyClick(&dialog, Qt::Key_S, Qt::AltModifier);  // pressed once the button's animation is over
    EXPECT_TRUE(QTest::qWaitFor([&] { return start.started.size() == 2; }));
    QTest::keyClick(dialog.cmdSysInfo, Qt::Key_Return);
    QTest::keyClick(dialog.cmdSysInfo, Qt::Key_Space);
    EXPECT_EQ(start.started, QStringList(4, "/bin/x"));
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(AboutDialogTest, ReopeningLoadsTheDialogAgain)
{
    AboutForm& first = openFromMainWindow();
    first.lblVersion->setText("changed");
    first.cmdOK->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    AboutForm& second = openFromMainWindow();
    EXPECT_EQ(second.lblVersion->text(), "Version 1.2.0");
    EXPECT_EQ(QApplication::focusWidget(), second.cmdOK);
}

TEST_F(AboutDialogTest, OkOfTheOnlyLoadedFormLoadsTheMainWindowAndTheProgramGoesOn)
{
    frmAbout().Show();
    ASSERT_FALSE(ui::mainFrmLoaded());
    after(0, [] { frmAbout().cmdOK->click(); });
    after(100, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(runEventLoop(), 7) << "unloading the last form ended the program before the handler showed another";
    EXPECT_TRUE(ui::mainFrmLoaded() && mainFrm().isVisible());
}

TEST_F(AboutDialogTest, TheMainWindowIgnoresInputBehindTheDialogAndKeepsItsLook)
{
    int presses = 0;
    ui::mainFrmHandlers().cmdStart_Click = [&] { ++presses; };
    ui::MainForm& form = mainFrm();
    form.Show();
    frmAbout().Show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&frmAbout()));
    const QImage enabled = form.grab().toImage();
    form.setEnabled(false);
    EXPECT_EQ(form.grab().toImage(), enabled) << "the disabled window is drawn differently";

    QTest::mouseClick(form.cmdStart, Qt::LeftButton);
    QTest::keyClicks(form.txtHost, "abc");
    EXPECT_FALSE(form.close()) << "the close command went through";
    form.activateWindow();  // as a click on it would
    QTest::qWait(50);
    EXPECT_EQ(QApplication::activeWindow(), &frmAbout()) << "the dialog went behind the disabled window";
    EXPECT_EQ(presses, 0);
    EXPECT_EQ(form.txtHost->text(), "");
    EXPECT_TRUE(ui::mainFrmLoaded());
}

}  // namespace
