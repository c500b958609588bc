#pragma once

#include "platform/seam.h"

#include <QString>

namespace platform {

// Style values of the message box: OK only, with the icon they name.
namespace msgbox_style {
inline constexpr int OkOnly = 0;
inline constexpr int Critical = 16;
inline constexpr int Exclamation = 48;
}  // namespace msgbox_style

// The modal message box: the application's title, an OK button, the icon
// from the style value; returns when the operator dismisses it.
//
// The real implementation here knows no window system: it writes the
// prompt as one line on stderr, so that the runs and the probe can report
// without a toolkit. The window's application object (GuiApplication)
// puts the Qt message box in place for its lifetime, the command line its
// own console line.
class MessageBox {
public:
    virtual ~MessageBox() = default;
    virtual void show(const QString& prompt, int style) = 0;
};

inline void MsgBox(const QString& prompt, int style = msgbox_style::OkOnly) { use<MessageBox>().show(prompt, style); }

}  // namespace platform
