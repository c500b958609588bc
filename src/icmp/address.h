#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace icmp {

enum class Family : std::uint8_t { V4 = 4, V6 = 6 };

// An address that knows its family: the one type the echo core, its
// transports and the helper's protocol carry a host in. A plain value of
// 17 bytes, so that passing an IPv4 address costs what the 32-bit number
// did.
class Address {
public:
    // 0.0.0.0: what a record holds before anyone answered.
    constexpr Address() = default;

    // The number as the socket interfaces hold it, in network byte order.
    static Address v4(std::uint32_t networkOrder)
    {
        Address address;
        std::memcpy(address.bytes_.data(), &networkOrder, 4);
        return address;
    }
    static Address v6(std::span<const std::uint8_t, 16> bytes)
    {
        Address address;
        address.family_ = Family::V6;
        std::memcpy(address.bytes_.data(), bytes.data(), 16);
        return address;
    }

    // A numeric address only, dotted or in any form inet_pton(3) reads;
    // never a name, so that nothing is looked up.
    static std::optional<Address> parse(std::string_view text);

    Family family() const { return family_; }
    bool isV4() const { return family_ == Family::V4; }
    bool isV6() const { return family_ == Family::V6; }

    // Network byte order; 0 for an IPv6 address.
    std::uint32_t v4NetworkOrder() const
    {
        if (!isV4())
            return 0;
        std::uint32_t number = 0;
        std::memcpy(&number, bytes_.data(), 4);
        return number;
    }
    // 0.0.0.0 or ::, which Linux takes for this very machine: no host
    // that was asked, and no one who answered.
    bool unspecified() const { return bytes_ == std::array<std::uint8_t, 16>{}; }
    // 4 bytes for IPv4, 16 for IPv6.
    std::span<const std::uint8_t> bytes() const { return {bytes_.data(), isV4() ? 4u : 16u}; }

    // Dotted for IPv4; RFC 5952 for IPv6 (lower case, the longest run of
    // zero groups as "::").
    std::string text() const;

    friend bool operator==(const Address&, const Address&) = default;
    friend auto operator<=>(const Address&, const Address&) = default;

private:
    Family family_ = Family::V4;
    std::array<std::uint8_t, 16> bytes_{};  // an IPv4 address in the first 4, the rest 0
};

}  // namespace icmp

template <>
struct std::hash<icmp::Address> {
    std::size_t operator()(const icmp::Address& address) const noexcept
    {
        const auto bytes = address.bytes();
        std::uint64_t high = 0;
        std::uint64_t low = 0;
        std::memcpy(&low, bytes.data(), std::min<std::size_t>(bytes.size(), 8));
        if (bytes.size() > 8)
            std::memcpy(&high, bytes.data() + 8, 8);
        return std::hash<std::uint64_t>{}(low ^ (high * 0x9e3779b97f4a7c15ull) ^
                                          static_cast<std::uint64_t>(address.family()));
    }
};
