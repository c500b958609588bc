#include "icmp/address.h"

#include <arpa/inet.h>

namespace icmp {

std::optional<Address> Address::parse(std::string_view text)
{
    // inet_pton wants a terminated string, and a NUL inside the text must
    // not end it early and let a longer text pass as an address.
    if (text.size() >= INET6_ADDRSTRLEN || text.find('\0') != std::string_view::npos)
        return std::nullopt;
    const std::string terminated(text);
    std::array<std::uint8_t, 16> bytes{};
    if (inet_pton(AF_INET, terminated.c_str(), bytes.data()) == 1) {
        std::uint32_t number = 0;
        std::memcpy(&number, bytes.data(), 4);
        return Address::v4(number);
    }
    if (inet_pton(AF_INET6, terminated.c_str(), bytes.data()) == 1)
        return Address::v6(bytes);
    return std::nullopt;
}

std::string Address::text() const
{
    char buffer[INET6_ADDRSTRLEN] = {};
    inet_ntop(isV4() ? AF_INET : AF_INET6, bytes_.data(), buffer, sizeof buffer);
    return buffer;
}

}  // namespace icmp
