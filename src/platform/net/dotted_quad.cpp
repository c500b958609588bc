#include "platform/net/dotted_quad.h"

#include <cstring>

namespace platform {

std::optional<std::uint32_t> PlainDottedQuad(std::string_view text)
{
    std::uint8_t bytes[4];
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at == text.size() || text[at] != '.')
                return std::nullopt;
            ++at;
        }
        const std::size_t begin = at;
        unsigned value = 0;
        while (at < text.size() && at - begin < 3 && text[at] >= '0' && text[at] <= '9')
            value = value * 10 + static_cast<unsigned>(text[at++] - '0');
        const std::size_t digits = at - begin;
        // A leading zero makes inet_aton read the part as octal.
        if (digits == 0 || value > 255 || (digits > 1 && text[begin] == '0'))
            return std::nullopt;
        bytes[part] = static_cast<std::uint8_t>(value);
    }
    if (at != text.size())
        return std::nullopt;
    std::uint32_t address;
    std::memcpy(&address, bytes, sizeof address);
    return address;
}

}  // namespace platform
