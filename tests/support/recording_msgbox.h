#pragma once

#include "platform/msgbox.h"

#include <QString>
#include <QStringList>

#include <vector>

// Answers every message box at once and keeps what was shown.
class RecordingMessageBox final : public platform::MessageBox {
public:
    struct Shown {
        QString prompt;
        int style;
    };

    void show(const QString& prompt, int style) override { shown.push_back({prompt, style}); }

    QStringList prompts() const;

    std::vector<Shown> shown;

private:
    platform::ScopedFake<platform::MessageBox> installed_{*this};
};
