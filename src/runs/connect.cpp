#include "runs/connect.h"

#include "runs/batch_file_ping.h"
#include "runs/manual_ping.h"
#include "ui/main_form.h"

namespace runs {

void ConnectToMainForm()
{
    ui::mainFrmHandlers().cmdManPing_Click = cmdManPing_Click;
    ui::mainFrmHandlers().cmdStart_Click = cmdStart_Click;
}

}  // namespace runs
