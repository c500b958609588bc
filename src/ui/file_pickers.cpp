#include "ui/main_form.h"

// The two Browse buttons. Neither looks at how the dialog was closed: a
// cancel leaves FileName as it was, so the box then receives the path last
// chosen in either picker, or empty text if none was chosen yet.

namespace ui {
namespace {

const QString kFilter = QStringLiteral("Textfile *.txt");

}  // namespace

void MainForm::cmdInput_Click()
{
    CommonDialog1->setFilter(kFilter);
    CommonDialog1->ShowOpen();
    const QString fileName = CommonDialog1->FileName();
    txtInput->setText(fileName);
}

void MainForm::cmdOutput_Click()
{
    CommonDialog1->setFilter(kFilter);
    CommonDialog1->ShowSave();
    const QString fileName = CommonDialog1->FileName();
    txtOutput->setText(fileName);
}

}  // namespace ui
