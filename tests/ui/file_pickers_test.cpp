// The two Browse buttons with a scripted dialog, and the real Qt dialog
// behind the common dialog control.

#include "ui_fixture.h"

#include "platform/forms/common_dialog.h"
#include "support/scripted_file_dialog.h"

#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <string>

namespace {

using Mode = platform::FileDialog::Mode;
using ui::MainForm;
using ui::mainFrm;

const QString kFilter = "Textfile *.txt";

struct Picker {
    const char* name;
    QPushButton* MainForm::*button;
    QLineEdit* MainForm::*box;
    QLineEdit* MainForm::*otherBox;
    Mode mode;
};

const Picker kPickers[] = {
    {"input", &MainForm::cmdInput, &MainForm::txtInput, &MainForm::txtOutput, Mode::Open},
    {"output", &MainForm::cmdOutput, &MainForm::txtOutput, &MainForm::txtInput, Mode::Save},
};

const Picker& other(const Picker& p) { return &p == &kPickers[0] ? kPickers[1] : kPickers[0]; }

void press(const Picker& p) { (mainFrm().*p.button)->click(); }

class FilePickersTest : public UiTest {
protected:
    ScriptedFileDialog dialog;
};

TEST_F(FilePickersTest, ChoosingAFileReplacesTypedTextWithItsFullPath)
{
    for (const Picker& p : kPickers) {
        SCOPED_TRACE(p.name);
        MainForm& form = mainFrm();
        (form.*p.box)->setText("typed by hand.txt");
        dialog.choose("/srv/lists/hosts of " + QString(p.name) + ".txt");

        press(p);

        EXPECT_EQ((form.*p.box)->text(), "/srv/lists/hosts of " + QString(p.name) + ".txt");
        EXPECT_EQ((form.*p.otherBox)->text(), "");
        ASSERT_EQ(dialog.shown.size(), 1u);
        EXPECT_EQ(dialog.shown[0].mode, p.mode);
        EXPECT_EQ(dialog.shown[0].owner, &form);
        EXPECT_EQ(dialog.shown[0].fileName, "");
        EXPECT_EQ(dialog.shown[0].filter, kFilter);

        form.Unload();
        dialog.shown.clear();
    }
}

TEST_F(FilePickersTest, CancellingBeforeAnyChoiceEmptiesTheBox)
{
    for (const Picker& p : kPickers) {
        SCOPED_TRACE(p.name);
        MainForm& form = mainFrm();
        (form.*p.box)->setText("typed by hand.txt");
        dialog.cancel();

        press(p);

        EXPECT_EQ((form.*p.box)->text(), "");
        EXPECT_EQ(form.CommonDialog1->FileName(), "");
        form.Unload();
    }
}

TEST_F(FilePickersTest, CancellingAfterAChoiceInEitherPickerRepeatsThatPath)
{
    for (const Picker& p : kPickers) {
        SCOPED_TRACE(p.name);
        MainForm& form = mainFrm();
        dialog.choose("/srv/chosen in the other picker.txt");
        press(other(p));
        (form.*p.box)->setText("typed by hand.txt");
        dialog.cancel();

        press(p);

        EXPECT_EQ((form.*p.box)->text(), "/srv/chosen in the other picker.txt");
        ASSERT_EQ(dialog.shown.size(), 2u);
        EXPECT_EQ(dialog.shown[1].mode, p.mode);
        EXPECT_EQ(dialog.shown[1].fileName, "/srv/chosen in the other picker.txt")
            << "the dialog opens with the name it holds";

        // ...and in the same picker too.
        dialog.cancel();
        press(other(p));
        EXPECT_EQ((form.*other(p).box)->text(), "/srv/chosen in the other picker.txt");

        form.Unload();
        dialog.shown.clear();
    }
}

TEST_F(FilePickersTest, EveryPressSetsTheFilterAgainAndTheChosenNameSurvivesOnlyUntilUnload)
{
    MainForm& form = mainFrm();
    dialog.choose("/srv/a.txt");
    press(kPickers[0]);
    form.CommonDialog1->setFilter("All files (*)");
    dialog.choose("/srv/b.txt");
    press(kPickers[1]);
    ASSERT_EQ(dialog.shown.size(), 2u);
    EXPECT_EQ(dialog.shown[1].filter, kFilter);
    EXPECT_EQ(dialog.shown[1].fileName, "/srv/a.txt");

    form.Unload();
    dialog.cancel();
    press(kPickers[0]);
    EXPECT_EQ(mainFrm().txtInput->text(), "");
}

// A file dragged from a file manager onto either box: what file managers
// offer is a URI list with the same URLs as plain text, and they propose a
// move. The drag enters, moves and drops as Qt would deliver it.
TEST_F(FilePickersTest, ADroppedFileReplacesTheTextWithItsPathAndNothingElseIsTaken)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString hosts = dir.filePath("hosts of the 3rd floor ä.txt");
    const QString other = dir.filePath("other.txt");
    for (const QString& path : {hosts, other})
        QFile(path).open(QIODevice::WriteOnly);

    struct Drop {
        const char* what;
        QList<QUrl> urls;
        QString text;
        QString taken;  // empty: refused
    };
    const QUrl url = QUrl::fromLocalFile(hosts);
    const Drop kDrops[] = {
        {"one local file", {url}, url.toString(), hosts},
        {"two files", {url, QUrl::fromLocalFile(other)}, url.toString(), {}},
        {"a folder", {QUrl::fromLocalFile(dir.path())}, dir.path(), {}},
        {"a remote file", {QUrl("sftp://server/srv/hosts.txt")}, "sftp://server/srv/hosts.txt", {}},
        {"a file on another host", {QUrl("file://server/srv/hosts.txt")}, "file://server/srv/hosts.txt", {}},
        {"a name that is not UTF-8", {QUrl("file:///tmp/hosts%FE.txt")}, "file:///tmp/hosts%FE.txt", {}},
        {"plain text", {}, "hosts.txt", {}},
    };

    for (const Picker& p : kPickers) {
        for (const Drop& d : kDrops) {
            SCOPED_TRACE(std::string(p.name) + ": " + d.what);
            QLineEdit* box = mainFrm().*p.box;
            box->setText("typed by hand.txt");
            QMimeData data;
            if (!d.urls.isEmpty())
                data.setUrls(d.urls);
            data.setText(d.text);
            const auto offered = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
            const QPoint at = box->rect().center();
            QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
            QDragMoveEvent move(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
            QDropEvent drop(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
            for (QDropEvent* event : {static_cast<QDropEvent*>(&enter), static_cast<QDropEvent*>(&move), &drop}) {
                event->setDropAction(Qt::MoveAction);
                QCoreApplication::sendEvent(box, event);
                EXPECT_EQ(event->isAccepted(), !d.taken.isEmpty()) << event->type();
            }

            if (d.taken.isEmpty()) {
                EXPECT_EQ(box->text().toStdString(), "typed by hand.txt");
                continue;
            }
            EXPECT_EQ(box->text().toStdString(), d.taken.toStdString());
            EXPECT_EQ(drop.dropAction(), Qt::CopyAction) << "a move would let the file manager delete the file";
            box->undo();
            EXPECT_EQ(box->text().toStdString(), "typed by hand.txt");
        }
    }
}

// The real dialog: answered from inside its own event loop.
class QtFileDialogTest : public UiTest {
protected:
    struct Seen {
        QFileDialog::AcceptMode acceptMode{};
        QStringList nameFilters;
        QStringList selectedFiles;
        bool modal = false;
        QWidget* parent = nullptr;
    };

    // Shows the real dialog through the control; `answer` then acts on it.
    Seen showReal(Mode mode, std::function<void(QFileDialog&)> answer)
    {
        Seen seen;
        QObject scope;
        QTimer::singleShot(0, &scope, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                ADD_FAILURE() << "no file dialog is shown";
                return;
            }
            seen = {dialog->acceptMode(), dialog->nameFilters(), dialog->selectedFiles(), dialog->isModal(),
                    dialog->parentWidget()};
            answer(*dialog);
        });
        MainForm& form = mainFrm();
        form.CommonDialog1->setFilter(kFilter);
        if (mode == Mode::Open)
            form.CommonDialog1->ShowOpen();
        else
            form.CommonDialog1->ShowSave();
        return seen;
    }

    QTemporaryDir dir;
};

TEST_F(QtFileDialogTest, OpensOnTheFileNameWithTheFilterUnchangedAndACancelKeepsTheName)
{
    ASSERT_TRUE(dir.isValid());
    const QString hosts = dir.filePath("hosts.txt");
    QFile(hosts).open(QIODevice::WriteOnly);
    MainForm& form = mainFrm();
    form.Show();
    form.CommonDialog1->setFileName(hosts);

    for (Mode mode : {Mode::Open, Mode::Save}) {
        const Seen seen = showReal(mode, [](QFileDialog& d) { d.reject(); });
        EXPECT_EQ(seen.acceptMode, mode == Mode::Open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        EXPECT_EQ(seen.nameFilters, QStringList{kFilter});
        EXPECT_EQ(seen.selectedFiles, QStringList{hosts});
        EXPECT_TRUE(seen.modal);
        EXPECT_EQ(seen.parent, &form);
        EXPECT_EQ(form.CommonDialog1->FileName(), hosts);
    }
}

TEST_F(QtFileDialogTest, AChoiceBecomesTheFileName)
{
    ASSERT_TRUE(dir.isValid());
    const QString hosts = dir.filePath("hosts.txt");
    QFile(hosts).open(QIODevice::WriteOnly);
    const QString report = dir.filePath("report.txt");

    showReal(Mode::Open, [&](QFileDialog& d) {
        d.selectFile(hosts);
        static_cast<QDialog&>(d).accept();  // the Open or Save button
    });
    EXPECT_EQ(mainFrm().CommonDialog1->FileName(), hosts);

    showReal(Mode::Save, [&](QFileDialog& d) {
        d.selectFile(report);
        static_cast<QDialog&>(d).accept();  // the Open or Save button
    });
    EXPECT_EQ(mainFrm().CommonDialog1->FileName(), report);
}

}  // namespace
