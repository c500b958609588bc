#include "ui/main_form.h"

#include "platform/app.h"
#include "platform/forms/controls.h"
#include "platform/forms/dispatch.h"
#include "platform/forms/file_path_box.h"
#include "platform/forms/msgbox.h"
#include "platform/forms/twips.h"

#include <QFont>
#include <QPixmap>

#include <cstddef>
#include <iterator>

namespace ui {
namespace {

using platform::Twips;

template <class Box = QLineEdit>
QLineEdit* textBox(QWidget* container, const char* name, const char* text, int left, int top, int width, int height)
{
    auto* box = new Box(QString::fromLatin1(text), container);
    platform::Place(box, name, left, top, width, height);
    return box;
}

enum class Weight { Regular, Bold };

QLabel* label(QWidget* container, const char* name, const char* caption, int left, int top, int width, int height,
              Weight weight = Weight::Regular, Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    auto* text = new QLabel(QString::fromLatin1(caption), container);
    platform::Place(text, name, left, top, width, height);
    text->setTextFormat(Qt::PlainText);
    text->setAlignment(alignment);
    if (weight == Weight::Bold) {
        QFont font = text->font();
        font.setWeight(QFont::Bold);
        text->setFont(font);
    }
    return text;
}

platform::Frame* frame(QWidget* container, const char* name, const char* caption, int left, int top, int width, int height)
{
    auto* group = new platform::Frame(QString::fromLatin1(caption), container);
    platform::Place(group, name, left, top, width, height);
    return group;
}

void forward(std::function<void()> MainFormHandlers::*handler)
{
    if (const auto& plugged = mainFrmHandlers().*handler)
        plugged();
}

}  // namespace

MainForm::MainForm() : platform::Form(QStringLiteral("mainFrm"))
{
    setWindowTitle(QStringLiteral("Form1"));
    setWindowIcon(ProgramIcon());
    resize(Twips(7620), Twips(4230));

    cmdClose = platform::CommandButton(this, "cmdClose", "Close", 120, 3600, 3615, 375);
    Frame2 = frame(this, "Frame2", "Manuel Ping", 120, 1920, 7455, 1575);
    cmdManPing = platform::CommandButton(Frame2, "cmdManPing", "Ping", 4440, 240, 1335, 375);
    txtHost = textBox(Frame2, "txtHost", "", 1200, 240, 3015, 285);
    Label6 = label(Frame2, "Label6", "", 120, 720, 5655, 735, Weight::Regular, Qt::AlignLeft | Qt::AlignTop);
    Label6->setWordWrap(true);
    Label5 = label(Frame2, "Label5", "Host name:", 120, 240, 975, 255, Weight::Bold);
    Frame1 = frame(this, "Frame1", "File Ping", 120, 120, 7455, 1695);
    ProgressBar1 = new platform::ProgressBar(Frame1);
    platform::Place(ProgressBar1, "ProgressBar1", 120, 1200, 3495, 255);
    txtPingtimeout = textBox(Frame1, "txtPingtimeout", "500", 4680, 1200, 975, 285);
    txtInput = textBox<platform::FilePathBox>(Frame1, "txtInput", "", 1320, 240, 4695, 285);
    txtOutput = textBox<platform::FilePathBox>(Frame1, "txtOutput", "", 1320, 720, 4695, 285);
    cmdInput = platform::CommandButton(Frame1, "cmdInput", "Browse...", 6120, 240, 1215, 375);
    cmdOutput = platform::CommandButton(Frame1, "cmdOutput", "Browse...", 6120, 720, 1215, 375);
    cmdStart = platform::CommandButton(Frame1, "cmdStart", "Start", 6120, 1200, 1215, 375);
    Label4 = label(Frame1, "Label4", "Output File:", 120, 720, 1095, 255, Weight::Bold);
    Label3 = label(Frame1, "Label3", "Input File:", 120, 240, 1095, 255, Weight::Bold);
    Label2 = label(Frame1, "Label2", "ms", 5760, 1200, 255, 255);
    // The left end of this label lies under the progress bar; set to the
    // right, its text stays clear of the bar.
    Label1 = label(Frame1, "Label1", "Ping timeout:", 3480, 1200, 1095, 255, Weight::Regular,
                   Qt::AlignRight | Qt::AlignVCenter);
    ProgressBar1->raise();
    cmdAbout = platform::CommandButton(this, "cmdAbout", "About", 3840, 3600, 3615, 375);
    StatusBar = new platform::StatusBar(this, Twips(255));
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSimpleText(QStringLiteral("Ready"));
    StatusBar->addPanel(QStringLiteral("Ready"));
    CommonDialog1 = new platform::CommonDialog(this);
    CommonDialog1->setObjectName(QStringLiteral("CommonDialog1"));

    // Keyboard focus cycles in the order of the form's tab indexes; the
    // controls that take no focus are left out.
    QWidget* const tabOrder[] = {cmdAbout, cmdStart, cmdOutput,      cmdInput,   txtOutput,
                                 txtInput, txtHost,  txtPingtimeout, cmdManPing, cmdClose};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    cmdAbout->setFocus();

    platform::OnClick(cmdClose, [this] { cmdClose_Click(); });
    platform::OnClick(cmdInput, [this] { cmdInput_Click(); });
    platform::OnClick(cmdOutput, [this] { cmdOutput_Click(); });
    platform::OnClick(cmdManPing, [] { forward(&MainFormHandlers::cmdManPing_Click); });
    platform::OnClick(cmdStart, [] { forward(&MainFormHandlers::cmdStart_Click); });
    platform::OnClick(cmdAbout, [] { forward(&MainFormHandlers::cmdAbout_Click); });
}

void MainForm::Form_Load()
{
    const platform::Application& app = platform::App();
    setWindowTitle(app.Title + QLatin1Char(' ') + QString::number(app.Major) + QLatin1Char('.') +
                   QString::number(app.Minor));
}

void MainForm::cmdClose_Click() { platform::End(); }

QIcon ProgramIcon()
{
    // Enlarged without smoothing, the picture keeps its hard pixel edges on
    // dense screens instead of blurring.
    const QPixmap picture(QStringLiteral(":/icons/quorvex-32.png"));
    QIcon icon(picture);
    for (int size : {64, 128, 256})
        icon.addPixmap(picture.scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation));
    return icon;
}

MainForm& mainFrm() { return platform::FormInstance<MainForm>::get(); }

bool mainFrmLoaded() { return platform::FormInstance<MainForm>::loaded(); }

void OpenMainWindow(const QString& icmpRightsAdvice)
{
    if (!icmpRightsAdvice.isEmpty()) {
        // A sentence of its own in the box, whose title names the program.
        QString text = icmpRightsAdvice;
        text[0] = text[0].toUpper();
        platform::MsgBox(text, platform::msgbox_style::Exclamation);
    }
    mainFrm().Show();
}

MainFormHandlers& mainFrmHandlers()
{
    static MainFormHandlers handlers;
    return handlers;
}

}  // namespace ui
