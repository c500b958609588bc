#include "runs/batch_file_ping.h"
#include "ui/main_form.h"
#include "ui/run_handlers.h"

namespace ui {
namespace {

class MainFormControls final : public runs::BatchControls {
public:
    runs::BatchFile InputFile() override { return {mainFrm().txtInput->text()}; }
    runs::BatchFile OutputFile() override { return {mainFrm().txtOutput->text()}; }
    QString TimeoutText() override { return mainFrm().txtPingtimeout->text(); }
    void SetStatusText(const QString& text) override { mainFrm().StatusBar->setSimpleText(text); }
    float ProgressValue() override { return mainFrm().ProgressBar1->Value(); }
    void SetProgressValue(float value) override { mainFrm().ProgressBar1->setValue(value); }
    void SetProgressMax(float max) override { mainFrm().ProgressBar1->setMax(max); }
};

}  // namespace

void cmdStart_Click()
{
    MainFormControls controls;
    runs::BatchFilePing(controls);
}

}  // namespace ui
