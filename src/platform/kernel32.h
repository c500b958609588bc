#pragma once

#include <cstddef>
#include <cstring>

// The memory and string helpers that the probe reads platform records with.
namespace platform {

inline void RtlMoveMemory(void* destination, const void* source, std::size_t length)
{
    std::memmove(destination, source, length);
}

inline int lstrlenA(const char* string) { return string ? static_cast<int>(std::strlen(string)) : 0; }

inline char* lstrcpyA(char* destination, const char* source) { return std::strcpy(destination, source); }

}  // namespace platform
