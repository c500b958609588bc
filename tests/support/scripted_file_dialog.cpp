#include "support/scripted_file_dialog.h"

#include <gtest/gtest.h>

std::optional<QString> ScriptedFileDialog::show(Mode mode, QWidget* owner, const QString& fileName, const QString& filter)
{
    shown.push_back({mode, owner, fileName, filter});
    if (script_.empty()) {
        ADD_FAILURE() << "the file dialog was shown more often than the test scripted";
        return std::nullopt;
    }
    const Answer answer = script_.front();
    script_.pop_front();
    if (!answer.chosen)
        return std::nullopt;
    return answer.path;
}
