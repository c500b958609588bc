#include "platform/system/registry.h"

#include "platform/ansi.h"

#include <QStandardPaths>

#include <cstring>
#include <utility>

namespace platform {

const char* const kSystemInformationPrograms[] = {"hardinfo2", "hardinfo", "kinfocenter", "cpu-x", nullptr};

RegistryValue RegSz(const QString& text) { return {REG_SZ, toAnsi(text) + '\0'}; }

bool CaseInsensitiveLess::operator()(const QByteArray& a, const QByteArray& b) const
{
    return a.compare(b, Qt::CaseInsensitive) < 0;
}

HiveRegistry::HiveRegistry(std::function<Hive()> snapshot) : snapshot_(std::move(snapshot)) {}

LONG HiveRegistry::RegOpenKeyExA(HKEY key, const char* subKey, DWORD, DWORD, HKEY* result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    QByteArray path;
    if (key != HKEY_LOCAL_MACHINE) {
        const auto parent = open_.find(key);
        if (parent == open_.end())
            return ERROR_INVALID_HANDLE;
        path = parent->second.path;
    }
    const QByteArray below(subKey ? subKey : "");
    if (!below.isEmpty())
        path = path.isEmpty() ? below : path + '\\' + below;

    Hive hive = snapshot_();
    RegistryKey values;
    if (const auto found = hive.find(path); found != hive.end()) {
        values = std::move(found->second);
    } else if (!path.isEmpty()) {
        // A key that holds nothing but sub-keys exists too.
        const QByteArray prefix = path + '\\';
        const auto next = hive.lower_bound(prefix);
        if (next == hive.end() || next->first.left(prefix.size()).compare(prefix, Qt::CaseInsensitive) != 0)
            return ERROR_FILE_NOT_FOUND;
    }
    const HKEY handle = nextHandle_;
    nextHandle_ += 4;
    open_[handle] = OpenKey{path, std::move(values)};
    *result = handle;
    return ERROR_SUCCESS;
}

LONG HiveRegistry::RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                                    unsigned char* data, DWORD* dataSize)
{
    const auto open = open_.find(key);
    if (open == open_.end())
        return ERROR_INVALID_HANDLE;
    if (reserved || (data && !dataSize))
        return ERROR_INVALID_PARAMETER;
    const auto value = open->second.values.find(QByteArray(valueName ? valueName : ""));
    if (value == open->second.values.end())
        return ERROR_FILE_NOT_FOUND;

    const QByteArray& bytes = value->second.data;
    const auto size = static_cast<DWORD>(bytes.size());
    if (type)
        *type = value->second.type;
    if (!dataSize)
        return ERROR_SUCCESS;
    if (data && *dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (data)
        std::memcpy(data, bytes.constData(), size);
    *dataSize = size;
    return ERROR_SUCCESS;
}

LONG HiveRegistry::RegCloseKey(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    return open_.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace {

// HKEY_LOCAL_MACHINE as this system implies it: the system information
// program is the first of the well-known ones on the PATH, and there is no
// folder of a program with the other system's file name.
Hive systemHive()
{
    Hive hive;
    RegistryKey& msinfo = hive["SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"];
    for (const char* const* program = kSystemInformationPrograms; *program; ++program) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(*program));
        // A path that the single-byte code page cannot carry could not be
        // started from the value; the next program may do.
        if (!path.isEmpty() && fromAnsi(toAnsi(path)) == path) {
            msinfo["PATH"] = RegSz(path);
            break;
        }
    }
    return hive;
}

}  // namespace

template <>
Registry& realImplementation<Registry>()
{
    static HiveRegistry registry(systemHive);
    return registry;
}

}  // namespace platform
