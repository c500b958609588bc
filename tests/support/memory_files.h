#pragma once

#include "platform/files/files.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <map>
#include <set>

// Files held in memory by path; a path names its file and nothing else.
// Opening a missing file is the runtime error the real layer gives.
class MemoryFiles final : public platform::Files {
public:
    std::map<QString, QByteArray> files;
    // Called before each opening for reading.
    std::function<void(const QString& path)> beforeOpen;
    // Paths that read like a pipe: once, not again.
    std::set<QString> pipes;
    // The process's standard streams, as these files.
    static inline const QString kStandardInput = QStringLiteral("(standard input)");
    static inline const QString kStandardOutput = QStringLiteral("(standard output)");

    platform::OpenedFile openForReading(const QString& path) override;
    platform::OpenedFile create(const QString& path, bool overwrite) override;
    std::optional<platform::FileIdentity> identify(const QString& path) override;
    platform::OpenedFile standardInput() override;
    platform::OpenedFile standardOutput() override;

private:
    platform::ScopedFake<platform::Files> installed_{*this};
};
