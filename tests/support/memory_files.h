#pragma once

#include "platform/files/files.h"

#include <QByteArray>
#include <QString>

#include <map>

// Files held in memory by path; a path names its file and nothing else.
// Opening a missing file is the runtime error the real layer gives.
class MemoryFiles final : public platform::Files {
public:
    std::map<QString, QByteArray> files;

    platform::OpenedFile openForReading(const QString& path) override;
    platform::OpenedFile create(const QString& path, bool overwrite) override;
    std::optional<platform::FileIdentity> identify(const QString& path) override;

private:
    platform::ScopedFake<platform::Files> installed_{*this};
};
