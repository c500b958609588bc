#include "about/about_form.h"

#include "about/sys_info.h"
#include "platform/app.h"
#include "platform/forms/controls.h"
#include "platform/forms/dispatch.h"
#include "platform/forms/twips.h"
#include "ui/main_form.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace about {
namespace {

using platform::Twips;

QLabel* label(QWidget* form, const char* name, int left, int top, int width, int height, bool black)
{
    auto* text = new QLabel(form);
    platform::Place(text, name, left, top, width, height);
    text->setTextFormat(Qt::PlainText);
    text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    text->setWordWrap(true);
    if (black) {
        QPalette palette = text->palette();
        palette.setColor(QPalette::WindowText, QColor(0, 0, 0));
        text->setPalette(palette);
    }
    return text;
}

const char* const kDescription =
    "Quorvex reads the input file and pings the targets listen in the file. The hosts that doesn't respond to ping "
    "is written in the output file. This program was originally written for the active monitoring deparment at a "
    "mayor car company.";

// The free-use notice, one blank, and the maker's credit.
const char* const kFreeUseNotice = "";
const char* const kCredit = "Quorvex is made and kept up by the Quorvex developers.";

// Over the middle of the main window when it is loaded, else in the middle
// of the screen.
void placeOnScreen(QWidget* dialog)
{
    QRect over;
    if (ui::mainFrmLoaded() && ui::mainFrm().isVisible())
        over = ui::mainFrm().geometry();
    else if (const QScreen* screen = QGuiApplication::primaryScreen())
        over = screen->availableGeometry();
    if (over.isValid())
        dialog->move(over.center() - dialog->rect().center());
}

// Steps 2 and 3 of every way out of the dialog.
void GiveMainWindowBack()
{
    ui::mainFrm().setEnabled(true);
    ui::mainFrm().Show();
}

}  // namespace

AboutForm::AboutForm()
    : platform::Form(QStringLiteral("frmAbout"), QAccessible::Dialog),
      Line1{{
          {105, 2460, 5654, 2460, QColor(255, 255, 255), 2},
          {90, 2445, 5654, 2445, QColor(128, 128, 128), 1},
      }}
{
    // A fixed dialog: title bar and close command, no minimize or maximize
    // button, no resizing, no task bar button.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(Twips(5730), Twips(3555));
    setShowInTaskbar(false);
    setWindowIcon(ui::ProgramIcon());

    picIcon = new QLabel(this);
    platform::Place(picIcon, "picIcon", 240, 240, 540, 540);
    picIcon->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picIcon->setPixmap(ui::ProgramIcon().pixmap(QSize(32, 32), qApp->devicePixelRatio()));
    picIcon->setFocusPolicy(Qt::TabFocus);
    lblTitle = label(this, "lblTitle", 1050, 240, 3885, 480, true);
    lblVersion = label(this, "lblVersion", 1050, 780, 3885, 225, false);
    lblDescription = label(this, "lblDescription", 1050, 1125, 3885, 1170, true);
    lblDescription->setText(QString::fromLatin1(kDescription));
    lblDisclaimer = label(this, "lblDisclaimer", 255, 2625, 3870, 825, true);
    lblDisclaimer->setText(QString::fromLatin1(kFreeUseNotice) + QLatin1Char(' ') + QString::fromLatin1(kCredit));
    cmdOK = platform::CommandButton(this, "cmdOK", "OK", 4245, 2625, 1260, 345);
    cmdSysInfo = platform::CommandButton(this, "cmdSysInfo", "&System Info...", 4260, 3075, 1245, 345);
    setDefaultButton(cmdOK);
    setCancelButton(cmdOK);
    cmdOK->setDefault(true);

    setTabOrder(cmdOK, picIcon);
    setTabOrder(picIcon, cmdSysInfo);
    cmdOK->setFocus();

    platform::OnClick(cmdOK, [this] { cmdOK_Click(); });
    platform::OnClick(cmdSysInfo, [this] { cmdSysInfo_Click(); });
    placeOnScreen(this);
}

void AboutForm::Form_Load()
{
    const platform::Application& app = platform::App();
    setWindowTitle(QStringLiteral("About ") + app.Title);
    lblVersion->setText(QStringLiteral("Version %1.%2.%3").arg(app.Major).arg(app.Minor).arg(app.Revision));
    lblTitle->setText(app.Title);
}

void AboutForm::cmdOK_Click()
{
    Unload();
    GiveMainWindowBack();
}

void AboutForm::cmdSysInfo_Click() { StartSysInfo(); }

void AboutForm::closeEvent(QCloseEvent* event)
{
    platform::Form::closeEvent(event);
    if (event->isAccepted())
        GiveMainWindowBack();
}

void AboutForm::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    for (auto line = Line1.rbegin(); line != Line1.rend(); ++line) {
        // Horizontal, with its width going down from its y and its last
        // point left out, as the line control draws it.
        const QPoint from(Twips(line->x1), Twips(line->y1));
        painter.fillRect(QRect(from, QSize(Twips(line->x2) - from.x(), line->width)), line->color);
    }
}

AboutForm& frmAbout() { return platform::FormInstance<AboutForm>::get(); }

bool frmAboutLoaded() { return platform::FormInstance<AboutForm>::loaded(); }

void cmdAbout_Click()
{
    ui::mainFrm().setEnabled(false);
    frmAbout().Show();
}

void ConnectToMainForm() { ui::mainFrmHandlers().cmdAbout_Click = cmdAbout_Click; }

}  // namespace about
