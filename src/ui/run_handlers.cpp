#include "ui/run_handlers.h"

#include "ui/main_form.h"

namespace ui {

void ConnectRunsToMainForm()
{
    mainFrmHandlers().cmdManPing_Click = cmdManPing_Click;
    mainFrmHandlers().cmdStart_Click = cmdStart_Click;
}

}  // namespace ui
