#pragma once

#include "platform/msgbox.h"

namespace platform {

// The message box of the window system: a modal QMessageBox over the
// active window. GuiApplication puts one in place of the plain one for as
// long as it lives.
class QtMessageBox final : public MessageBox {
public:
    void show(const QString& prompt, int style) override;
};

}  // namespace platform
