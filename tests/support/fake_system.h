#pragma once

#include "platform/runtime_error.h"
#include "platform/system/file_search.h"
#include "platform/system/program_start.h"
#include "platform/system/registry.h"

#include <QSet>
#include <QStringList>

// An in-memory HKEY_LOCAL_MACHINE that logs every call as
// "open <path> 0x<mask>", "query <name> <size going in>", "close <handle>".
class RecordingRegistry final : public platform::HiveRegistry {
public:
    explicit RecordingRegistry(platform::Hive initial = {}) : HiveRegistry([this] { return hive; }), hive(initial) {}

    platform::LONG RegOpenKeyExA(platform::HKEY key, const char* path, platform::DWORD options, platform::DWORD mask,
                                 platform::HKEY* result) override
    {
        calls << QStringLiteral("open %1 0x%2").arg(QString::fromLatin1(path)).arg(mask, 0, 16);
        return HiveRegistry::RegOpenKeyExA(key, path, options, mask, result);
    }
    platform::LONG RegQueryValueExA(platform::HKEY key, const char* name, platform::DWORD* reserved,
                                    platform::DWORD* type, unsigned char* data, platform::DWORD* size) override
    {
        calls << QStringLiteral("query %1 %2").arg(QString::fromLatin1(name)).arg(*size);
        return HiveRegistry::RegQueryValueExA(key, name, reserved, type, data, size);
    }
    platform::LONG RegCloseKey(platform::HKEY key) override
    {
        calls << QStringLiteral("close %1").arg(key);
        return HiveRegistry::RegCloseKey(key);
    }

    platform::Hive hive;
    QStringList calls;

private:
    platform::ScopedFake<platform::Registry> installed_{*this};
};

// Finds exactly the paths in `files`; logs every search.
class FakeFileSearch final : public platform::FileSearch {
public:
    QString find(const QString& path) override
    {
        searched << path;
        return files.contains(path) ? path.section('\\', -1) : QString();
    }
    QSet<QString> files;
    QStringList searched;

private:
    platform::ScopedFake<platform::FileSearch> installed_{*this};
};

// Logs every start, also those that fail: the empty path and `failing`.
class RecordingProgramStart final : public platform::ProgramStart {
public:
    std::int64_t start(const QString& path, int windowStyle) override
    {
        started << path;
        styles << windowStyle;
        if (path.isEmpty() || failing.contains(path))
            throw platform::RuntimeError(platform::error_number::FileNotFound, path);
        return started.size();
    }
    QSet<QString> failing;
    QStringList started;
    QList<int> styles;

private:
    platform::ScopedFake<platform::ProgramStart> installed_{*this};
};
