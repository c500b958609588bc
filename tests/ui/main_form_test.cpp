// The main window as the operator meets it: controls, start values,
// caption, keyboard focus, resizing, fonts, and how it loads and ends.

#include "ui_fixture.h"

#include "platform/forms/frame.h"
#include "platform/forms/gui_application.h"
#include "platform/forms/progress_bar.h"
#include "platform/forms/status_bar.h"
#include "platform/net/icmp_rights.h"
#include "support/recording_msgbox.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTest>

#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

using ui::MainForm;
using ui::mainFrm;

// What the operator reads, and where; places are left to the checks below.
const std::tuple<const char*, const char*, const char*> kControls[] = {
    {"cmdClose", "mainFrm", "Close"},
    {"Frame2", "mainFrm", "Manuel Ping"},
    {"cmdManPing", "Frame2", "Ping"},
    {"txtHost", "Frame2", ""},
    {"Label6", "Frame2", ""},
    {"Label5", "Frame2", "Host name:"},
    {"Frame1", "mainFrm", "File Ping"},
    {"ProgressBar1", "Frame1", ""},
    {"txtPingtimeout", "Frame1", "500"},
    {"txtInput", "Frame1", ""},
    {"txtOutput", "Frame1", ""},
    {"cmdInput", "Frame1", "Browse..."},
    {"cmdOutput", "Frame1", "Browse..."},
    {"cmdStart", "Frame1", "Start"},
    {"Label4", "Frame1", "Output File:"},
    {"Label3", "Frame1", "Input File:"},
    {"Label2", "Frame1", "ms"},
    {"Label1", "Frame1", "Ping timeout:"},
    {"cmdAbout", "mainFrm", "About"},
    {"StatusBar", "mainFrm", "Ready"},
};

QWidget* control(const char* name) { return mainFrm().findChild<QWidget*>(name); }

QString textOf(QWidget* w)
{
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    if (auto* t = qobject_cast<QLineEdit*>(w))
        return t->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    if (auto* s = qobject_cast<platform::StatusBar*>(w))
        return s->SimpleText();
    return {};
}

std::map<QString, QRect> geometries()
{
    std::map<QString, QRect> result;
    for (const auto& [name, container, text] : kControls)
        result[name] = control(name)->geometry();
    return result;
}

using MainFormTest = UiTest;

TEST_F(MainFormTest, EveryControlHasItsContainerAndText)
{
    for (const auto& [name, container, text] : kControls) {
        SCOPED_TRACE(name);
        ASSERT_NE(control(name), nullptr);
        EXPECT_EQ(control(name)->parentWidget()->objectName(), container);
        EXPECT_EQ(textOf(control(name)), text);
    }
}

// A control in the wrong place shows as one cut off by its container,
// covering another, or out of the row it is read in.
TEST_F(MainFormTest, ControlsLieInsideTheirContainersUncoveredAndInReadingRows)
{
    MainForm& form = mainFrm();
    for (const auto& c : kControls) {
        QWidget* one = control(std::get<0>(c));
        EXPECT_TRUE(one->parentWidget()->rect().contains(one->geometry())) << std::get<0>(c);
        for (const auto& o : kControls) {
            QWidget* other = control(std::get<0>(o));
            const bool overlap = one != other && one->parentWidget() == other->parentWidget() &&
                                 one->geometry().intersects(other->geometry());
            // The timeout's label reaches under the bar, which hides none of its letters (below).
            const QSet<QWidget*> labelUnderBar{form.Label1, form.ProgressBar1};
            EXPECT_TRUE(!overlap || (labelUnderBar.contains(one) && labelUnderBar.contains(other)))
                << std::get<0>(c) << " and " << std::get<0>(o);
        }
    }
    // Left to right, each row shares a line of text.
    const std::vector<std::vector<QWidget*>> rows = {
        {form.Label3, form.txtInput, form.cmdInput},
        {form.Label4, form.txtOutput, form.cmdOutput},
        {form.ProgressBar1, form.Label1, form.txtPingtimeout, form.Label2, form.cmdStart},
        {form.Label5, form.txtHost, form.cmdManPing},
        {form.cmdClose, form.cmdAbout},
    };
    for (const auto& row : rows) {
        for (std::size_t i = 1; i < row.size(); ++i) {
            const QRect left = row[i - 1]->geometry(), here = row[i]->geometry();
            EXPECT_LT(left.center().x(), here.center().x()) << row[i]->objectName().toStdString();
            EXPECT_TRUE(here.contains(here.left(), row[0]->geometry().center().y()))
                << row[i]->objectName().toStdString();
        }
    }
}

TEST_F(MainFormTest, CaptionIsTitleMajorAndMinorFromTheApplicationObject)
{
    EXPECT_EQ(mainFrm().windowTitle(), "Quorvex 1.2");
}

TEST_F(MainFormTest, StartValues)
{
    MainForm& form = mainFrm();
    EXPECT_EQ(form.ProgressBar1->Min(), 0.0f);
    EXPECT_EQ(form.ProgressBar1->Max(), 100.0f);
    EXPECT_EQ(form.ProgressBar1->Value(), 0.0f);
    EXPECT_EQ(form.ProgressBar1->bar()->value(), form.ProgressBar1->bar()->minimum());
    EXPECT_FALSE(form.ProgressBar1->bar()->isTextVisible());
    EXPECT_EQ(form.ProgressBar1->bar()->orientation(), Qt::Horizontal);

    EXPECT_EQ(form.StatusBar->SimpleText(), "Ready");
    ASSERT_EQ(form.StatusBar->PanelCount(), 1);
    EXPECT_EQ(form.StatusBar->PanelText(1), "Ready");

    EXPECT_EQ(form.CommonDialog1->Filter(), "");
    EXPECT_EQ(form.CommonDialog1->FileName(), "");
    EXPECT_TRUE(form.Label6->wordWrap());
}

TEST_F(MainFormTest, EveryLoadStartsAfreshAndRunsFormLoad)
{
    MainForm* first = &mainFrm();
    EXPECT_EQ(&mainFrm(), first);
    first->txtHost->setText("alpha");
    first->txtPingtimeout->setText("abc");
    first->setWindowTitle("changed");
    first->CommonDialog1->setFileName("/tmp/hosts.txt");

    first->Unload();
    EXPECT_FALSE(ui::mainFrmLoaded());

    MainForm& second = mainFrm();
    EXPECT_TRUE(ui::mainFrmLoaded());
    EXPECT_EQ(second.windowTitle(), "Quorvex 1.2");
    EXPECT_EQ(second.txtHost->text(), "");
    EXPECT_EQ(second.txtPingtimeout->text(), "500");
    EXPECT_EQ(second.CommonDialog1->FileName(), "");
}

TEST_F(MainFormTest, FocusStartsOnAboutAndTabCyclesInTabIndexOrder)
{
    MainForm& form = mainFrm();
    form.Show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    QStringList seen;
    seen << QApplication::focusWidget()->objectName();
    for (int i = 0; i < 10; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        seen << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(seen, QStringList({"cmdAbout", "cmdStart", "cmdOutput", "cmdInput", "txtOutput", "txtInput", "txtHost",
                                 "txtPingtimeout", "cmdManPing", "cmdClose", "cmdAbout"}));

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "cmdClose");
}

TEST_F(MainFormTest, EnterPressesOnlyTheFocusedButtonAndThereAreNoAccessKeys)
{
    std::vector<std::string> pressed;
    ui::mainFrmHandlers().cmdManPing_Click = [&] { pressed.push_back("cmdManPing"); };
    ui::mainFrmHandlers().cmdStart_Click = [&] { pressed.push_back("cmdStart"); };
    ui::mainFrmHandlers().cmdAbout_Click = [&] { pressed.push_back("cmdAbout"); };

    MainForm& form = mainFrm();
    form.Show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    for (QPushButton* button : form.findChildren<QPushButton*>())
        EXPECT_FALSE(button->text().contains('&')) << button->objectName().toStdString();
    for (QLabel* label : form.findChildren<QLabel*>())
        EXPECT_FALSE(label->text().contains('&'));

    // Enter presses the focused button and nothing else; in a text box it
    // presses nothing, and Esc never does (Close would end the program, so
    // it is left out).
    for (QWidget* focus : std::initializer_list<QWidget*>{form.cmdAbout, form.cmdStart, form.cmdManPing, form.txtHost,
                                                          form.txtPingtimeout}) {
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Return);
        QTest::keyClick(focus, Qt::Key_Escape);
    }
    EXPECT_EQ(pressed, (std::vector<std::string>{"cmdAbout", "cmdStart", "cmdManPing"}));
    EXPECT_TRUE(ui::mainFrmLoaded());
}

TEST_F(MainFormTest, ResizingMovesOnlyTheStatusBarWhichStaysDockedToTheBottom)
{
    MainForm& form = mainFrm();
    form.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const auto before = geometries();

    for (QSize size : {QSize(800, 500), QSize(300, 150), form.size()}) {
        SCOPED_TRACE(size.width());
        form.resize(size);
        QCoreApplication::processEvents();
        ASSERT_EQ(form.size(), size);
        auto after = geometries();
        const QRect bar = after["StatusBar"];
        EXPECT_EQ(bar, QRect(0, size.height() - before.at("StatusBar").height(), size.width(), bar.height()));
        after.erase("StatusBar");
        auto expected = before;
        expected.erase("StatusBar");
        EXPECT_EQ(after, expected);
    }
}

TEST_F(MainFormTest, FontIsLiberationSansByPixelSizeWithThreeBoldLabels)
{
    MainForm& form = mainFrm();
    EXPECT_EQ(platform::GuiApplication::fontFamily(), "Liberation Sans") << "install fonts-liberation";
    EXPECT_EQ(QApplication::font().pixelSize(), platform::GuiApplication::kFontPixelSize);

    const QSet<QString> bold{"Label3", "Label4", "Label5"};
    for (QWidget* w : form.findChildren<QWidget*>()) {
        SCOPED_TRACE(w->objectName().toStdString());
        EXPECT_EQ(w->font().pixelSize(), platform::GuiApplication::kFontPixelSize);
        EXPECT_EQ(w->font().weight(), bold.contains(w->objectName()) ? QFont::Bold : QFont::Normal);
    }
}

TEST_F(MainFormTest, EveryCaptionFitsItsControl)
{
    MainForm& form = mainFrm();
    form.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    for (QLabel* label : {form.Label1, form.Label2, form.Label3, form.Label4, form.Label5}) {
        SCOPED_TRACE(label->objectName().toStdString());
        const QFontMetrics metrics(label->font());
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->contentsRect().width());
        EXPECT_LE(metrics.height(), label->contentsRect().height());
    }
    for (QPushButton* button : form.findChildren<QPushButton*>()) {
        SCOPED_TRACE(button->objectName().toStdString());
        EXPECT_LE(button->sizeHint().width(), button->width());
        EXPECT_LE(button->sizeHint().height(), button->height());
    }
    // A text box keeps its frame and a pixel of margin above and below the
    // line of text.
    for (QLineEdit* box : form.findChildren<QLineEdit*>()) {
        SCOPED_TRACE(box->objectName().toStdString());
        const int frame = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, box);
        EXPECT_LE(QFontMetrics(box->font()).height() + 2 * frame + 2, box->height());
    }
    EXPECT_LE(QFontMetrics(form.txtPingtimeout->font()).horizontalAdvance("500"), form.txtPingtimeout->width() / 2);

    for (platform::Frame* frame : {form.Frame1, form.Frame2}) {
        SCOPED_TRACE(frame->objectName().toStdString());
        const QRect caption = frame->captionRect();
        EXPECT_TRUE(frame->rect().contains(caption));
        for (QWidget* child : frame->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_FALSE(child->geometry().intersects(caption)) << child->objectName().toStdString();
    }

    QLabel* simpleText = form.StatusBar->findChild<QLabel*>("SimpleText");
    ASSERT_NE(simpleText, nullptr);
    form.StatusBar->setSimpleText("Running ping sequence...");
    const QFontMetrics metrics(simpleText->font());
    EXPECT_LE(metrics.horizontalAdvance(simpleText->text()), simpleText->contentsRect().width());
    EXPECT_LE(metrics.height(), simpleText->contentsRect().height());
}

// The first column, from the left, in which the widget draws anything but
// its background; -1 if it draws nothing.
int firstInkedColumn(QWidget* widget)
{
    const QImage image = widget->grab().toImage();
    const QRgb background = widget->palette().color(QPalette::Window).rgb();
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (image.pixel(x, y) != background)
                return x;
    return -1;
}

TEST_F(MainFormTest, NoLetterOfPingTimeoutHidesUnderTheProgressBar)
{
    MainForm& form = mainFrm();
    QLabel* label = form.Label1;
    const QRect bar = form.ProgressBar1->geometry();
    const int covered = bar.right() + 1 - label->x();
    ASSERT_GT(covered, 0) << "the bar no longer reaches over the label";

    const int ink = firstInkedColumn(label);
    ASSERT_GE(ink, 0);
    EXPECT_GE(ink, covered);

    // Where they overlap, the bar lies on top of the label.
    const QObjectList siblings = form.Frame1->children();
    EXPECT_GT(siblings.indexOf(form.ProgressBar1), siblings.indexOf(label));
}

TEST_F(MainFormTest, ResultLabelShowsTwoLinesOfALongVerdict)
{
    QLabel* label = mainFrm().Label6;
    const QString verdict =
        "Error! gateway-building-7.branch-office.example.org Did not reply. Error: 11010   [ ip req timed out ]";
    label->setText(verdict);
    const QFontMetrics metrics(label->font());
    ASSERT_GT(metrics.horizontalAdvance(verdict), label->width()) << "the verdict must need wrapping";

    const QRect wrapped =
        metrics.boundingRect(label->contentsRect(), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, verdict);
    EXPECT_GE(wrapped.height(), 2 * metrics.lineSpacing() - metrics.leading());
    EXPECT_LE(wrapped.height(), label->contentsRect().height());
    EXPECT_EQ(label->alignment() & Qt::AlignVertical_Mask, Qt::AlignTop);
}

// Started from the desktop's menu, the advice of the start-up rights check
// reaches no terminal; the window gives it once, then opens.
TEST_F(MainFormTest, WithNoWayToSendAnEchoAMessageBoxGivesTheFixAndTheWindowOpens)
{
    platform::IcmpRights datagram;
    datagram.datagramSocket = true;
    for (const auto& rights : {platform::IcmpRights{}, datagram}) {
        SCOPED_TRACE(rights.datagramSocket ? "datagram socket" : "no way at all");
        const QString advice = platform::icmpRightsAdvice(rights, "/usr/libexec/quorvex/quorvex-echo-helper");
        RecordingMessageBox box;

        ui::OpenMainWindow(advice);

        EXPECT_TRUE(mainFrm().isVisible());
        ASSERT_EQ(box.shown.size(), advice.isEmpty() ? 0u : 1u);
        if (!advice.isEmpty()) {
            EXPECT_EQ(box.shown[0].style, platform::msgbox_style::Exclamation);
            // The box's title names the program; the text begins as a sentence.
            const QString prompt = box.shown[0].prompt;
            EXPECT_TRUE(prompt.at(0).isUpper() && advice.endsWith(prompt.mid(1))) << prompt.toStdString();
        }
        mainFrm().Unload();
    }
}

// A second form for the cases in which the program ends.
class OtherForm final : public platform::Form {
public:
    OtherForm() : platform::Form("otherForm") {}
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++closeRequests;
        platform::Form::closeEvent(event);
    }
};

TEST_F(MainFormTest, CloseEndsTheProgramAtOnceWithoutAskingAnyForm)
{
    MainForm& form = mainFrm();
    form.Show();
    OtherForm& other = platform::FormInstance<OtherForm>::get();
    other.Show();

    after(0, [&] { QTest::mouseClick(form.cmdClose, Qt::LeftButton); });
    EXPECT_EQ(runEventLoop(), 0);

    EXPECT_EQ(platform::LoadedFormCount(), 0);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(other.isVisible());
    EXPECT_EQ(other.closeRequests, 0);
}

TEST_F(MainFormTest, TheWindowsCloseCommandUnloadsItAndTheProgramEndsWhenNoFormIsLeft)
{
    // With another form still loaded, the program goes on.
    platform::FormInstance<OtherForm>::get().Show();
    mainFrm().Show();
    after(0, [] { mainFrm().close(); });
    after(100, [] { QCoreApplication::exit(42); });
    EXPECT_EQ(runEventLoop(), 42);
    EXPECT_FALSE(ui::mainFrmLoaded());

    // Closing the last one ends it.
    after(0, [] { platform::FormInstance<OtherForm>::get().close(); });
    EXPECT_EQ(runEventLoop(), 0);
    EXPECT_EQ(platform::LoadedFormCount(), 0);
}

}  // namespace
