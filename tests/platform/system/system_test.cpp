// The real registry, file search and program start on this system.

#include "platform/runtime_error.h"
#include "platform/system/file_search.h"
#include "platform/system/program_start.h"
#include "platform/system/registry.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace platform;

void writeScript(const QString& path, const QByteArray& body)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body);
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// The "PATH" value as the launcher reads it, or the error.
QString readPath(Registry& registry)
{
    HKEY key = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\microsoft\\shared tools\\msinfo", 0, 0x2003F, &key),
              ERROR_SUCCESS);
    QByteArray data(1024, '\0');
    DWORD type = 0, size = 1024;
    const LONG result =
        registry.RegQueryValueExA(key, "PATH", nullptr, &type, reinterpret_cast<unsigned char*>(data.data()), &size);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
    if (result != ERROR_SUCCESS)
        return QStringLiteral("error %1").arg(result);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data[size - 1], '\0');
    return QString::fromLatin1(data.left(size - 1));
}

TEST(SystemRegistry, NamesTheBestSystemInformationProgramOnThePath)
{
    QTemporaryDir first, second;
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", (first.path() + ':' + second.path()).toLocal8Bit());
    Registry& registry = realImplementation<Registry>();
    EXPECT_EQ(readPath(registry), "error 2") << "none installed";
    writeScript(second.filePath("hardinfo2"), "");
    writeScript(first.filePath("kinfocenter"), "");
    EXPECT_EQ(readPath(registry), second.filePath("hardinfo2"));
    QFile::remove(second.filePath("hardinfo2"));
    EXPECT_EQ(readPath(registry), first.filePath("kinfocenter"));

    HKEY key = 0;
    EXPECT_EQ(registry.RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools Location", 0, 0, &key),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_INVALID_HANDLE);
    qputenv("PATH", savedPath);
}

TEST(SystemFileSearch, FindsOnlyANormalFileOfThatExactName)
{
    QTemporaryDir dir;
    writeScript(dir.filePath("MSINFO32.EXE"), "");
    writeScript(dir.filePath(".MSINFO32.EXE"), "");
    QDir(dir.path()).mkdir("folder.exe");
    const std::pair<QString, QString> cases[] = {
        {"\\MSINFO32.EXE", "MSINFO32.EXE"},
        {"\\\\MSINFO32.EXE", "MSINFO32.EXE"},
        {"\\msinfo32.exe", ""},
        {"\\MSINFO*.EXE", ""},
        {"\\.MSINFO32.EXE", ""},
        {"\\folder.exe", ""},
    };
    for (const auto& [name, found] : cases)
        EXPECT_EQ(FindFile(dir.path() + name), found) << name.toStdString();
    EXPECT_EQ(FindFile(""), "");
}

TEST(SystemProgramStart, StartsThatVeryFileDetachedWithoutAShellOrFails)
{
    QTemporaryDir dir;
    // Names a shell would split or run as two commands. The script marks
    // that it ran, and marks its end only long after the start returned.
    for (const QString name : {"sys info", "a;touch injected"}) {
        writeScript(dir.filePath(name), "exec >/dev/null 2>&1\ntouch \"$0.ran\"\nsleep 5\ntouch \"$0.ended\"\n");
        EXPECT_GT(StartProgram(dir.filePath(name), window_style::NormalFocus), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return QFile::exists(dir.filePath(name + ".ran")); }, 2000));
        EXPECT_FALSE(QFile::exists(dir.filePath(name + ".ended"))) << "the start waited for the program";
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("injected")) || QFile::exists("injected"));

    QFile(dir.filePath("plain")).open(QIODevice::WriteOnly);
    const std::pair<QString, int> failures[] = {
        {dir.filePath("missing"), error_number::FileNotFound},
        {dir.filePath("plain"), error_number::PermissionDenied},
        {"", error_number::InvalidProcedureCall},
    };
    for (const auto& [path, number] : failures) {
        try {
            StartProgram(path, window_style::NormalFocus);
            ADD_FAILURE() << path.toStdString() << " started";
        } catch (const RuntimeError& error) {
            EXPECT_EQ(error.number(), number) << path.toStdString();
        }
    }
}

}  // namespace
