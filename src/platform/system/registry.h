#pragma once

#include "platform/seam.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>

namespace platform {

// The registry's 32-bit types: a key handle, a result code, a count or flag
// word.
using HKEY = std::uint32_t;
using LONG = std::int32_t;
using DWORD = std::uint32_t;

inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002;

// Result codes.
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_MORE_DATA = 234;

// Value types.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;

// Access rights of a key.
inline constexpr DWORD KEY_QUERY_VALUE = 0x0001;
inline constexpr DWORD KEY_SET_VALUE = 0x0002;
inline constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr DWORD KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr DWORD KEY_NOTIFY = 0x0010;
inline constexpr DWORD KEY_CREATE_LINK = 0x0020;
inline constexpr DWORD READ_CONTROL = 0x00020000;

// The registry functions in their single-byte forms: key paths and value
// names in the ANSI code page, data as the bytes stored.
class Registry {
public:
    virtual ~Registry() = default;
    virtual LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired, HKEY* result) = 0;
    virtual LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, unsigned char* data,
                                  DWORD* dataSize) = 0;
    virtual LONG RegCloseKey(HKEY key) = 0;
};

inline LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired, HKEY* result)
{
    return use<Registry>().RegOpenKeyExA(key, subKey, options, samDesired, result);
}

inline LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, unsigned char* data,
                             DWORD* dataSize)
{
    return use<Registry>().RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
}

inline LONG RegCloseKey(HKEY key) { return use<Registry>().RegCloseKey(key); }

// A registry value as stored: its type and its bytes, a text's terminating
// zero included where it was stored with one.
struct RegistryValue {
    DWORD type = REG_NONE;
    QByteArray data;
};

// REG_SZ data as the registry stores text: the bytes and one zero.
RegistryValue RegSz(const QString& text);

// The keys below HKEY_LOCAL_MACHINE, by path ("SOFTWARE\\Vendor\\Tool"), each
// with its values by name ("" for the key's default value). Paths and names
// are ANSI text and compare without regard to case.
struct CaseInsensitiveLess {
    bool operator()(const QByteArray& a, const QByteArray& b) const;
};
using RegistryKey = std::map<QByteArray, RegistryValue, CaseInsensitiveLess>;
using Hive = std::map<QByteArray, RegistryKey, CaseInsensitiveLess>;

// A registry that only reads: HKEY_LOCAL_MACHINE made of the hive that
// `snapshot` gives, taken anew at every opening of a key, so that a handle
// sees its key as it was when opened. Every key that holds a value or a
// sub-key exists; the root's own path is "".
class HiveRegistry : public Registry {
public:
    explicit HiveRegistry(std::function<Hive()> snapshot);

    LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired, HKEY* result) override;
    LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, unsigned char* data,
                          DWORD* dataSize) override;
    LONG RegCloseKey(HKEY key) override;

    // How many keys are open now.
    int openKeys() const { return static_cast<int>(open_.size()); }

private:
    struct OpenKey {
        QByteArray path;
        RegistryKey values;
    };

    std::function<Hive()> snapshot_;
    std::map<HKEY, OpenKey> open_;
    HKEY nextHandle_ = 0x100;
};

// The system information programs that the real registry names, best first.
extern const char* const kSystemInformationPrograms[];

}  // namespace platform
