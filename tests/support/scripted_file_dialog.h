#pragma once

#include "platform/forms/common_dialog.h"

#include <QString>
#include <QWidget>

#include <deque>
#include <optional>
#include <vector>

// Stands in for the platform's file dialog: answers each show at once from
// a script (a path chosen, or a cancel) and records how it was opened. A
// show with nothing left in the script fails the test and cancels.
class ScriptedFileDialog final : public platform::FileDialog {
public:
    struct Shown {
        Mode mode;
        QWidget* owner;
        QString fileName;  // the name the dialog opened with
        QString filter;
    };

    void choose(const QString& path) { script_.push_back({true, path}); }
    void cancel() { script_.push_back({false, {}}); }

    std::optional<QString> show(Mode mode, QWidget* owner, const QString& fileName, const QString& filter) override;

    std::vector<Shown> shown;

private:
    struct Answer {
        bool chosen;
        QString path;
    };
    std::deque<Answer> script_;
    platform::ScopedFake<platform::FileDialog> installed_{*this};
};
