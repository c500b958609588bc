#pragma once

#include "platform/forms/form.h"

#include <QColor>
#include <QLabel>
#include <QPushButton>

#include <array>

namespace about {

// A line control: from one point to another in twips, in one colour, so
// many pixels wide. The rule of the dialog is made of horizontal ones.
struct Line {
    int x1, y1, x2, y2;
    QColor color;
    int width;
};

// The About dialog: title, version, description and notice of the tool, OK
// and System Info. A fixed dialog without a task bar button of its own,
// shown modeless and without an owner while the main window is disabled;
// closing it in any way gives the main window back.
class AboutForm final : public platform::Form {
    Q_OBJECT
public:
    AboutForm();

    void Form_Load() override;

    void cmdOK_Click();
    void cmdSysInfo_Click();

    QLabel* picIcon;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QLabel* lblDisclaimer;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;
    // The etched rule between the upper and the lower block, drawn from the
    // last member to the first.
    std::array<Line, 2> Line1;

protected:
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
};

// The one instance of the dialog, loaded on first use.
AboutForm& frmAbout();
bool frmAboutLoaded();

// The main window's About button.
void cmdAbout_Click();

// Plugs the About button's handler into the main window.
void ConnectToMainForm();

}  // namespace about
