// The System Info launcher over an in-memory registry, a fake file search
// and a recording program start.

#include "about/sys_info.h"
#include "support/fake_system.h"
#include "support/recording_msgbox.h"

#include <QRegularExpression>

#include <optional>

#include <gtest/gtest.h>

namespace {

using namespace platform;

const QByteArray kKey1 = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
const QByteArray kKey2 = "SOFTWARE\\Microsoft\\Shared Tools Location";

RegistryValue raw(DWORD type, const QByteArray& data) { return {type, data}; }

// "PATH" and "MSINFO" as given; a missing one leaves its key out.
Hive hive(std::optional<RegistryValue> path, std::optional<RegistryValue> folder = {})
{
    Hive h;
    if (path)
        h[kKey1]["PATH"] = *path;
    if (folder)
        h[kKey2]["MSINFO"] = *folder;
    return h;
}

TEST(StartSysInfo, EveryWayThroughTheLookupsAndTheStart)
{
    const QString fits = "/" + QString(1022, 'a');     // with its zero: 1024 bytes
    const QString tooLong = "/" + QString(1023, 'a');  // with its zero: 1025
    const QString exact = "/" + QString(1023, 'b');    // 1024 bytes, no zero
    const QString exe = "C:\\T\\MSINFO32.EXE";
    struct Press {
        const char* name;
        Hive hive;
        QSet<QString> files, failing;  // found by the search; failing to start
        QStringList started, searched;
        int lookups;  // keys opened
        bool message;
    } const cases[] = {
        {"PATH started as it stands", hive(RegSz("/usr/bin/hardinfo"), RegSz("C:\\T")), {}, {}, {"/usr/bin/hardinfo"}, {}, 1, false},
        {"PATH to a missing file: no check, no MSINFO",
         hive(RegSz("/gone"), RegSz("C:\\T")),
         {exe},
         {"/gone"},
         {"/gone"},
         {},
         1,
         true},
        {"no PATH: the folder's program", hive({}, RegSz("C:\\T")), {exe}, {}, {exe}, {exe}, 2, false},
        {"no PATH, folder without the file", hive({}, RegSz("C:\\T")), {}, {}, {}, {exe}, 2, true},
        {"folder ending in a backslash",
         hive({}, RegSz("C:\\T\\")),
         {"C:\\T\\\\MSINFO32.EXE"},
         {},
         {"C:\\T\\\\MSINFO32.EXE"},
         {"C:\\T\\\\MSINFO32.EXE"},
         2,
         false},
        {"neither value", hive({}), {}, {}, {}, {}, 2, true},
        {"the folder's program fails to start", hive({}, RegSz("C:\\T")), {exe}, {exe}, {exe}, {exe}, 2, true},
        {"1024 bytes with the zero fit", hive(RegSz(fits)), {}, {}, {fits}, {}, 1, false},
        {"1025 bytes count as missing", hive(RegSz(tooLong)), {}, {}, {}, {}, 2, true},
        {"text without its zero is whole", hive(raw(REG_SZ, exact.toLatin1())), {}, {}, {exact}, {}, 1, false},
        {"only one zero is cut, blanks stay",
         hive(raw(REG_SZ, QByteArray("/a b;c \0\0", 9))),
         {},
         {},
         {QString::fromLatin1("/a b;c \0", 8)},
         {},
         1,
         false},
        {"a character a byte",
         hive(raw(REG_SZ, QByteArray("/\xe9t\xe9\0", 5))),
         {},
         {},
         {QString::fromLatin1("/\xe9t\xe9")},
         {},
         1,
         false},
        {"another type: found, empty", hive(raw(REG_BINARY, "\x01")), {}, {}, {""}, {}, 1, true},
        {"a number as decimal text", hive(raw(REG_DWORD, QByteArray("\x34\x12\0\0", 4))), {}, {}, {"4660"}, {}, 1, false},
        {"no data ends the press at once", hive(raw(REG_SZ, ""), RegSz("C:\\T")), {exe}, {}, {}, {}, 1, true},
    };
    for (const Press& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingRegistry registry(c.hive);
        FakeFileSearch search;
        search.files = c.files;
        RecordingProgramStart start;
        start.failing = c.failing;
        RecordingMessageBox boxes;

        EXPECT_NO_THROW(about::StartSysInfo());
        EXPECT_EQ(start.started, c.started);
        EXPECT_EQ(search.searched, c.searched);
        EXPECT_EQ(boxes.prompts(),
                  c.message ? QStringList{"System Information Is Unavailable At This Time"} : QStringList{});
        for (const auto& box : boxes.shown)
            EXPECT_EQ(box.style, 0);
        for (int style : start.styles)
            EXPECT_EQ(style, 1);

        // Each lookup opens its key with the same rights, asks with the
        // whole buffer and closes the key, also the one never opened (null)
        // and the one whose value had no data.
        QStringList expected{"open " + kKey1 + " 0x2003f"};
        expected << (c.hive.count(kKey1) ? QStringList{"query PATH 1024", "close key"} : QStringList{"close 0"});
        if (c.lookups == 2) {
            expected << "open " + kKey2 + " 0x2003f";
            expected << (c.hive.count(kKey2) ? QStringList{"query MSINFO 1024", "close key"} : QStringList{"close 0"});
        }
        QStringList calls = registry.calls;
        calls.replaceInStrings(QRegularExpression("^close [1-9]\\d*$"), "close key");
        EXPECT_EQ(calls.join(" | ").toStdString(), expected.join(" | ").toStdString());
        EXPECT_EQ(registry.openKeys(), 0);
    }
}

TEST(StartSysInfo, EveryPressStartsAnotherCopy)
{
    RecordingRegistry registry(hive(RegSz("/usr/bin/kinfocenter")));
    RecordingProgramStart start;
    about::StartSysInfo();
    about::StartSysInfo();
    EXPECT_EQ(start.started, QStringList(2, "/usr/bin/kinfocenter"));
}

}  // namespace
