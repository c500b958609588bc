#pragma once

#include "platform/system/registry.h"

#include <QString>

namespace about {

// The registry value that names the system information program, and the
// folder where a program of the other system's file name is looked for.
inline const QString gREGKEYSYSINFO = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
inline const QString gREGVALSYSINFO = QStringLiteral("PATH");
inline const QString gREGKEYSYSINFOLOC = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
inline const QString gREGVALSYSINFOLOC = QStringLiteral("MSINFO");

// READ_CONTROL with all six specific key rights: what the lookups ask for,
// which is neither read access alone nor all access.
inline constexpr platform::DWORD KEY_ALL_SPECIFIC_RIGHTS =
    platform::READ_CONTROL | platform::KEY_QUERY_VALUE | platform::KEY_SET_VALUE | platform::KEY_CREATE_SUB_KEY |
    platform::KEY_ENUMERATE_SUB_KEYS | platform::KEY_NOTIFY | platform::KEY_CREATE_LINK;

// Reads one registry value as text into KeyVal: REG_SZ as its text, REG_DWORD
// as its number in decimal, any other type leaving KeyVal as it was. True
// when the key opened and the value was read; on failure KeyVal is empty.
// A value without any data raises a runtime error. The key is closed before
// the function returns or the error leaves it.
bool GetKeyValue(platform::HKEY KeyRoot, const QString& KeyName, const QString& SubKeyRef, QString& KeyVal);

// Starts the system information program that the registry names, without
// waiting for it; whatever fails, the operator gets one message.
void StartSysInfo();

}  // namespace about
