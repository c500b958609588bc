// The plain dotted quad over any bytes: whatever it reads, inet_aton and
// inet_addr read as the same address, and every text of four plain parts
// that they read is one it reads too, so the fast path never changes a
// host's address nor leaves the common form to the slow one.

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
    if (fast) {
        FUZZ_REQUIRE(read && slow.s_addr == *fast);
        FUZZ_REQUIRE(::inet_addr(text.c_str()) == *fast);
    }
    // Four parts of digits alone, each the decimal spelling of its value.
    if (read && !fast) {
        unsigned parts[4];
        char tail;
        const bool plain =
            std::sscanf(text.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) == 4 &&
            text == std::to_string(parts[0]) + '.' + std::to_string(parts[1]) + '.' + std::to_string(parts[2]) + '.' +
                        std::to_string(parts[3]);
        FUZZ_REQUIRE(!plain);
    }
    return 0;
}
