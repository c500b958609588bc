// The plain dotted quad over any bytes: what it reads, inet_aton and
// inet_addr read as the same address, and what they read in its form
// (four parts, each its value's decimal spelling) it reads too.

#include "platform/net/dotted_quad.h"
#include "require.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include <arpa/inet.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const auto fast = platform::PlainDottedQuad(text);
    in_addr slow{};
    const bool read = text.find('\0') == std::string::npos && ::inet_aton(text.c_str(), &slow) != 0;
    if (fast)
        FUZZ_REQUIRE(read && slow.s_addr == *fast && ::inet_addr(text.c_str()) == *fast);
    unsigned p[4];
    if (read && std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u", &p[0], &p[1], &p[2], &p[3]) == 4)
        FUZZ_REQUIRE(fast || text != std::to_string(p[0]) + '.' + std::to_string(p[1]) + '.' + std::to_string(p[2]) +
                                         '.' + std::to_string(p[3]));
    return 0;
}
