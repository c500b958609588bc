// The layer in place of the platform's window system: the standard error
// report, the message box, the progress bar and the status bar.

#include "ui_fixture.h"

#include "platform/forms/dispatch.h"
#include "platform/forms/msgbox.h"
#include "platform/forms/progress_bar.h"
#include "platform/runtime_error.h"
#include "platform/forms/status_bar.h"
#include "support/recording_msgbox.h"
#include "support/scripted_file_dialog.h"

#include <QMessageBox>
#include <QProgressBar>
#include <QScreen>
#include <QStatusTipEvent>
#include <QTest>

#include <chrono>
#include <new>
#include <stdexcept>
#include <thread>

namespace {

using platform::RuntimeError;
using ui::MainForm;
using ui::mainFrm;
namespace error_number = platform::error_number;

constexpr int kCritical = platform::msgbox_style::Critical;

// --- The standard error report ---------------------------------------------

TEST(ErrorReportText, NamesTheErrorAndKeepsTheDescription)
{
    struct Case {
        int number;
        QString description;
        QString expected;
    };
    const Case cases[] = {
        {error_number::TypeMismatch, "the ping timeout \"abc\" is not a whole number.",
         "Type mismatch: the ping timeout \"abc\" is not a whole number."},
        {error_number::Overflow, "the ping timeout \"2147483648\" lies outside -2147483648 to 2147483647.",
         "Overflow: the ping timeout \"2147483648\" lies outside -2147483648 to 2147483647."},
        {error_number::FileNotFound, "the input file \"/srv/none.txt\" does not exist.",
         "File not found: the input file \"/srv/none.txt\" does not exist."},
        {error_number::PermissionDenied, "the output file \"/root/x.txt\" cannot be created.",
         "Permission denied: the output file \"/root/x.txt\" cannot be created."},
        {error_number::PathNotFound, "the folder of \"/no/such/out.txt\" does not exist.",
         "Path not found: the folder of \"/no/such/out.txt\" does not exist."},
        {380, "the progress value 101 lies outside 0 to 100.",
         "Invalid property value: the progress value 101 lies outside 0 to 100."},
        {31999, "something odd.", "Run-time error 31999: something odd."},
        {error_number::TypeMismatch, "", "Type mismatch."},
        {error_number::Overflow, "Overflow: already named.", "Overflow: already named."},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ErrorReportText(RuntimeError(c.number, c.description)), c.expected);
}

using DispatchTest = UiTest;

TEST_F(DispatchTest, AFailingHandlerEndsAtItsStepAndTheReportIsShownAsACriticalBox)
{
    RecordingMessageBox boxes;
    QStringList steps;
    platform::RunHandler([&] {
        steps << "before";
        throw RuntimeError(error_number::TypeMismatch, "the ping timeout \"abc\" is not a whole number.");
        steps << "after";
    });
    EXPECT_EQ(steps, QStringList{"before"});
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].prompt, "Type mismatch: the ping timeout \"abc\" is not a whole number.");
    EXPECT_EQ(boxes.shown[0].style, kCritical);
}

TEST_F(DispatchTest, FaultsOtherThanRuntimeErrorsAreReportedToo)
{
    RecordingMessageBox boxes;
    platform::RunHandler([] { throw std::logic_error("index 7 out of range"); });
    platform::RunHandler([] { throw std::bad_alloc(); });
    platform::RunHandler([] { throw 42; });
    EXPECT_EQ(boxes.prompts(), QStringList({"Internal error: index 7 out of range", "Out of memory.",
                                            "Internal error: an unknown exception."}));
    for (const auto& box : boxes.shown)
        EXPECT_EQ(box.style, kCritical);
}

TEST_F(DispatchTest, AFailingReportDoesNotEscapeEither)
{
    class ThrowingBox final : public platform::MessageBox {
    public:
        void show(const QString&, int) override { throw std::runtime_error("no display"); }
    } broken;
    platform::ScopedFake<platform::MessageBox> installed(broken);
    EXPECT_NO_THROW(platform::RunHandler([] { throw RuntimeError(error_number::Overflow, "x"); }));
}

TEST_F(DispatchTest, AButtonWhoseHandlerThrowsLeavesTheProgramRunningAndTheWindowUsable)
{
    RecordingMessageBox boxes;
    ScriptedFileDialog dialog;
    int runs = 0;
    ui::mainFrmHandlers().cmdStart_Click = [&] {
        ++runs;
        throw RuntimeError(error_number::FileNotFound, "the input file \"/srv/none.txt\" does not exist.");
    };
    MainForm& form = mainFrm();
    form.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    after(0, [&] { QTest::mouseClick(form.cmdStart, Qt::LeftButton); });
    after(10, [&] { QTest::mouseClick(form.cmdStart, Qt::LeftButton); });
    after(20, [&] {
        dialog.choose("/srv/hosts.txt");
        QTest::mouseClick(form.cmdInput, Qt::LeftButton);
    });
    after(30, [] { QCoreApplication::exit(7); });
    EXPECT_EQ(runEventLoop(), 7) << "the event loop went on after the errors";

    EXPECT_EQ(runs, 2);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].prompt, "File not found: the input file \"/srv/none.txt\" does not exist.");
    EXPECT_EQ(boxes.shown[0].style, kCritical);
    EXPECT_TRUE(ui::mainFrmLoaded());
    EXPECT_EQ(form.txtInput->text(), "/srv/hosts.txt");
}

TEST_F(DispatchTest, AnErrorOutsideAnyHandlerIsCaughtByTheApplicationObject)
{
    RecordingMessageBox boxes;
    after(0, [] { throw RuntimeError(error_number::Overflow, "the line count passed 32767."); });
    after(10, [] { QCoreApplication::exit(5); });
    EXPECT_EQ(runEventLoop(), 5);
    EXPECT_EQ(boxes.prompts(), QStringList{"Overflow: the line count passed 32767."});
}

TEST_F(DispatchTest, UnpluggedButtonsDoNothing)
{
    RecordingMessageBox boxes;
    MainForm& form = mainFrm();
    for (QPushButton* button : {form.cmdManPing, form.cmdStart, form.cmdAbout})
        button->click();
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(form.isEnabled());
}

// --- The real message box --------------------------------------------------

using MessageBoxTest = UiTest;

TEST_F(MessageBoxTest, ModalWithTheApplicationTitleOkOnlyAndTheIconOfTheStyle)
{
    struct Case {
        int style;
        QMessageBox::Icon icon;
    };
    const QString prompt = "Ports <80> & \"more\"";  // shown as plain text
    for (const Case c : {Case{0, QMessageBox::NoIcon}, Case{48, QMessageBox::Warning}, Case{16, QMessageBox::Critical}}) {
        SCOPED_TRACE(c.style);
        bool seen = false;
        Qt::TextFormat format{};
        QString title, text;
        QMessageBox::Icon icon{};
        QMessageBox::StandardButtons buttons{};
        Qt::WindowModality modality{};
        QObject scope;
        QTimer::singleShot(0, &scope, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = true;
            title = box->windowTitle();
            text = box->text();
            format = box->textFormat();
            icon = box->icon();
            buttons = box->standardButtons();
            modality = box->windowModality();
            box->accept();
        });
        platform::MsgBox(prompt, c.style);  // returns only once dismissed
        ASSERT_TRUE(seen) << "no message box was shown";
        EXPECT_EQ(title, "Quorvex");
        EXPECT_EQ(text, prompt);
        EXPECT_EQ(format, Qt::PlainText);
        EXPECT_EQ(icon, c.icon);
        EXPECT_EQ(buttons, QMessageBox::Ok);
        EXPECT_EQ(modality, Qt::ApplicationModal);
    }
}

// --- The progress bar ------------------------------------------------------

class ProgressBarTest : public UiTest {
protected:
    void SetUp() override
    {
        MainForm& form = mainFrm();
        form.Show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
        bar = form.ProgressBar1;
        QCoreApplication::processEvents();
    }

    // How much of the drawn bar is filled, from 0 to 1.
    double drawn() const
    {
        const QProgressBar* q = bar->bar();
        return double(q->value() - q->minimum()) / (q->maximum() - q->minimum());
    }

    platform::ProgressBar* bar = nullptr;
};

TEST_F(ProgressBarTest, AnEmptyRangeShowsAnEmptyBarNeverTheBusyIndicator)
{
    bar->setValue(0);
    bar->setMax(0);
    EXPECT_EQ(bar->Max(), 0.0f);
    EXPECT_EQ(bar->Value(), 0.0f);
    EXPECT_LT(bar->bar()->minimum(), bar->bar()->maximum()) << "an empty Qt range shows the busy animation";
    EXPECT_EQ(drawn(), 0.0);
}

TEST_F(ProgressBarTest, TheDrawnBarFollowsValueWithinMinToMax)
{
    bar->setValue(0);
    bar->setMax(3);
    const double halfAPixel = 0.5 / bar->bar()->maximum();
    for (float v : {0.0f, 1.0f, 2.0f, 3.0f}) {
        bar->setValue(v);
        QCoreApplication::processEvents();  // what waited for the next frame
        EXPECT_NEAR(drawn(), v / 3.0, halfAPixel);
    }
    // A long run: every step still moves the bar, and the last fills it.
    bar->setValue(0);
    bar->setMax(32767);
    float value = 0;
    for (int i = 0; i < 32767; ++i)
        value += 1.0f;
    bar->setValue(value);
    EXPECT_EQ(bar->Value(), 32767.0f);
    EXPECT_EQ(drawn(), 1.0);
}

TEST_F(ProgressBarTest, ChangingValuePaintsAtOnceAFrameApartWithoutTheEventLoop)
{
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint)
                ++paints;
            return false;
        }
    } counter;
    bar->bar()->installEventFilter(&counter);
    bar->setMax(10);
    std::this_thread::sleep_for(platform::ProgressBar::kFrame);
    const int before = counter.paints;
    bar->setValue(5);
    EXPECT_GT(counter.paints, before);
    EXPECT_NEAR(drawn(), 0.5, 1.0 / bar->bar()->maximum());

    // A long run paints a frame at a time and its full bar at once, which
    // none of the changes in between may put off.
    bar->setValue(0);
    bar->setMax(32767);
    counter.paints = 0;
    const auto start = std::chrono::steady_clock::now();
    for (float v = 1.0f; v <= 32767.0f; v += 1.0f) {
        bar->setValue(v);
        if (v == 300.0f)
            std::this_thread::sleep_for(platform::ProgressBar::kFrame);
    }
    const auto frames = (std::chrono::steady_clock::now() - start) / platform::ProgressBar::kFrame;
    EXPECT_EQ(drawn(), 1.0);
    EXPECT_GE(counter.paints, 2) << "the change after the pause, and the full bar";
    EXPECT_LE(counter.paints, frames + 3);

    // What a frame put off is painted once the event loop runs (unless a
    // busy machine held this thread for a frame between the two changes).
    const auto reset = std::chrono::steady_clock::now();
    bar->setValue(0);
    bar->setValue(1000);
    if (std::chrono::steady_clock::now() - reset < platform::ProgressBar::kFrame) {
        EXPECT_EQ(drawn(), 0.0);
    }
    QCoreApplication::processEvents();
    EXPECT_NEAR(drawn(), 1000.0 / 32767, 1.0 / bar->bar()->maximum());
}

// Painting only where the fill ends must leave the same pixels as painting
// the whole bar, at every stage of a run.
TEST_F(ProgressBarTest, WhatIsOnTheScreenIsTheWholeBarDrawnAfresh)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const auto onScreen = [&] {
        const QPoint at = bar->mapTo(bar->window(), QPoint(0, 0));
        return screen->grabWindow(bar->window()->winId(), at.x(), at.y(), bar->width(), bar->height()).toImage();
    };
    bar->setValue(0);
    bar->setMax(1000);
    for (float v = 1.0f; v <= 1000.0f; v += 1.0f) {
        bar->setValue(v);
        if (static_cast<int>(v) % 97 == 0 || v == 1000.0f) {
            ASSERT_EQ(onScreen(), bar->grab().toImage().convertToFormat(onScreen().format())) << v;
        }
    }
}

TEST_F(ProgressBarTest, OutOfRangeValuesAreInvalidPropertyValues)
{
    bar->setValue(40);
    for (float v : {-1.0f, 100.5f, 1e9f}) {
        try {
            bar->setValue(v);
            ADD_FAILURE() << v << " was taken";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), 380);
        }
    }
    EXPECT_THROW(bar->setMax(-1), RuntimeError);
    EXPECT_EQ(bar->Value(), 40.0f);
    EXPECT_EQ(bar->Max(), 100.0f);

    // Moving the maximum below the value pulls the value along.
    bar->setMax(10);
    EXPECT_EQ(bar->Value(), 10.0f);
    EXPECT_EQ(drawn(), 1.0);
}

// --- The status bar --------------------------------------------------------

using StatusBarTest = UiTest;

TEST_F(StatusBarTest, ShowsItsSimpleTextAndKeepsItsPanel)
{
    MainForm& form = mainFrm();
    form.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto* shown = form.StatusBar->findChild<QLabel*>("SimpleText");
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->text(), "Ready");

    form.StatusBar->setSimpleText("Running ping sequence...");
    EXPECT_EQ(shown->text(), "Running ping sequence...");
    EXPECT_EQ(form.StatusBar->PanelText(1), "Ready");
    EXPECT_THROW(form.StatusBar->PanelText(2), RuntimeError);
    EXPECT_THROW(form.StatusBar->PanelText(0), RuntimeError);
}

TEST_F(StatusBarTest, StatusTipsDoNotOverwriteTheSimpleText)
{
    MainForm& form = mainFrm();
    form.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    form.StatusBar->setSimpleText("Running ping sequence...");
    for (QWidget* target : std::initializer_list<QWidget*>{form.cmdStart, form.txtHost, &form, form.StatusBar}) {
        QStatusTipEvent tip("a tip");
        QApplication::sendEvent(target, &tip);
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(form.StatusBar->SimpleText(), "Running ping sequence...");
    EXPECT_EQ(form.StatusBar->currentMessage(), "");
    EXPECT_TRUE(form.StatusBar->findChild<QLabel*>("SimpleText")->isVisible());
}

}  // namespace
