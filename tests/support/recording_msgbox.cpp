#include "support/recording_msgbox.h"

QStringList RecordingMessageBox::prompts() const
{
    QStringList texts;
    for (const auto& box : shown)
        texts << box.prompt;
    return texts;
}
