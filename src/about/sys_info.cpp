#include "about/sys_info.h"

#include "platform/ansi.h"
#include "platform/msgbox.h"
#include "platform/runtime_error.h"
#include "platform/system/file_search.h"
#include "platform/system/program_start.h"

#include <QByteArray>
#include <QtEndian>

#include <new>

namespace about {
namespace {

using namespace platform;

constexpr DWORD kBufferSize = 1024;
const QString kSysInfoFile = QStringLiteral("\\MSINFO32.EXE");

// Closes the key whatever way GetKeyValue leaves: also the handle that was
// never opened, which is still null then.
class KeyCloser {
public:
    explicit KeyCloser(const HKEY& key) : key_(key) {}
    ~KeyCloser() { RegCloseKey(key_); }
    KeyCloser(const KeyCloser&) = delete;
    KeyCloser& operator=(const KeyCloser&) = delete;

private:
    const HKEY& key_;
};

// The little-endian number that a REG_DWORD holds, from as many of its four
// bytes as were stored.
QString dwordText(const QByteArray& data)
{
    unsigned char bytes[4] = {};
    for (int i = 0; i < 4 && i < data.size(); ++i)
        bytes[i] = static_cast<unsigned char>(data[i]);
    return QString::number(qFromLittleEndian<qint32>(bytes));
}

// The lookups and the start; false where the press ends in the message.
bool LaunchSysInfo()
{
    QString SysInfoPath;
    if (!GetKeyValue(HKEY_LOCAL_MACHINE, gREGKEYSYSINFO, gREGVALSYSINFO, SysInfoPath)) {
        if (!GetKeyValue(HKEY_LOCAL_MACHINE, gREGKEYSYSINFOLOC, gREGVALSYSINFOLOC, SysInfoPath))
            return false;
        if (FindFile(SysInfoPath + kSysInfoFile).isEmpty())
            return false;
        SysInfoPath += kSysInfoFile;
    }
    StartProgram(SysInfoPath, window_style::NormalFocus);
    return true;
}

}  // namespace

bool GetKeyValue(HKEY KeyRoot, const QString& KeyName, const QString& SubKeyRef, QString& KeyVal)
{
    HKEY hKey = 0;
    const KeyCloser closer(hKey);
    DWORD KeyValType = 0;
    QByteArray tmpVal(kBufferSize, '\0');
    DWORD KeyValSize = kBufferSize;

    if (RegOpenKeyExA(KeyRoot, toAnsi(KeyName).constData(), 0, KEY_ALL_SPECIFIC_RIGHTS, &hKey) != ERROR_SUCCESS ||
        RegQueryValueExA(hKey, toAnsi(SubKeyRef).constData(), nullptr, &KeyValType,
                         reinterpret_cast<unsigned char*>(tmpVal.data()), &KeyValSize) != ERROR_SUCCESS) {
        KeyVal.clear();
        return false;
    }

    // The last byte written decides whether there is a terminating zero to
    // drop; with no byte written there is no last one to look at.
    if (KeyValSize == 0 || KeyValSize > kBufferSize)
        throw RuntimeError(error_number::InvalidProcedureCall,
                           QStringLiteral("the registry value \"%1\" came back with %2 bytes.").arg(SubKeyRef).arg(KeyValSize));
    tmpVal.truncate(tmpVal.at(KeyValSize - 1) == '\0' ? KeyValSize - 1 : KeyValSize);

    if (KeyValType == REG_SZ)
        KeyVal = fromAnsi(tmpVal);
    else if (KeyValType == REG_DWORD)
        KeyVal = dwordText(tmpVal);
    return true;
}

void StartSysInfo()
{
    bool started = false;
    try {
        started = LaunchSysInfo();
    } catch (const RuntimeError&) {
        // Every runtime error of the lookups and the start ends in the one
        // message below.
    } catch (const std::bad_alloc&) {
    }
    if (!started)
        MsgBox(QStringLiteral("System Information Is Unavailable At This Time"), msgbox_style::OkOnly);
}

}  // namespace about
