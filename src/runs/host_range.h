#pragma once

#include "icmp/address.h"

#include <QByteArrayList>
#include <QString>

#include <cstdint>
#include <optional>

namespace runs {

// The most addresses a range may give, as fping's generator allows: a
// /15 of IPv4, a /111 of IPv6.
inline constexpr std::uint64_t kMostRangeHosts = 131072;

// The addresses of -g, in address order, handed out one at a time: a
// range may hold more hosts than any list, and is never held whole.
class HostRange {
public:
    struct Parsed;
    // -g's arguments: ADDRESS/BITS, or FIRST LAST (both ends included).
    // Host bits set in a CIDR's address are ignored, and an IPv4 prefix
    // shorter than /31 leaves out the network's first and last address
    // (its own and its broadcast), as fping does; IPv6 has no broadcast,
    // and loses none.
    static Parsed parse(const QByteArrayList& arguments);

    icmp::Family family() const { return family_; }
    std::uint64_t size() const { return size_; }
    // The next address as a list would spell it; nothing after the last.
    std::optional<QString> next();

private:
    // An IPv4 address in the low 32 bits.
    using Number = unsigned __int128;

    HostRange(icmp::Family family, Number first, std::uint64_t size) : family_(family), next_(first), size_(size) {}

    icmp::Family family_;
    Number next_;
    std::uint64_t size_;
    std::uint64_t handedOut_ = 0;
};

struct HostRange::Parsed {
    std::optional<HostRange> range;
    QString error;  // one line, when there is no range
};

}  // namespace runs
