#include "runs/manual_ping.h"
#include "ui/main_form.h"
#include "ui/run_handlers.h"

namespace ui {
namespace {

class MainFormControls final : public runs::ManualPingControls {
public:
    QString HostText() override { return mainFrm().txtHost->text(); }
    QString TimeoutText() override { return mainFrm().txtPingtimeout->text(); }
    void SetVerdict(const QString& caption) override { mainFrm().Label6->setText(caption); }
};

}  // namespace

void cmdManPing_Click()
{
    MainFormControls controls;
    runs::ManualPing(controls);
}

}  // namespace ui
