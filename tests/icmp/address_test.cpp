#include "icmp/address.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace {

using icmp::Address;

// What an operator may write, and the one text the output and the JSON
// give for it, whatever form it came in; what is no numeric address
// (a name, a text cut at a NUL) is never taken for one.
TEST(Address, ReadsNumericAddressesAndWritesTheirOneForm)
{
    const struct {
        std::string_view written;
        const char* text;  // null: refused
    } rows[] = {
        {"127.0.0.1", "127.0.0.1"},
        {"2001:DB8:0:0:0:0:0:1", "2001:db8::1"},
        {"2001:db8:0:1:0:0:0:1", "2001:db8:0:1::1"},       // the first of two equal runs
        {"2001:db8:0:0:1:0:0:0", "2001:db8:0:0:1::"},      // the longer run
        {"2001:db8:1:1:1:1:0:1", "2001:db8:1:1:1:1:0:1"},  // one zero group stays
        {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},
        {"localhost", nullptr},
        {{"127.0.0.1\0.5", 12}, nullptr},
        {"1.2.3", nullptr},
        {"[::1]", nullptr},
        {"fe80::1%lo", nullptr},
        {"1111:2222:3333:4444:5555:6666:7777:8888:9999", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.written));
        const auto address = Address::parse(row.written);
        ASSERT_EQ(address.has_value(), row.text != nullptr);
        if (address) {
            EXPECT_EQ(address->text(), row.text);
            EXPECT_EQ(address->family(),
                      address->text().find(':') == std::string::npos ? icmp::Family::V4 : icmp::Family::V6);
        }
    }
    // 0.0.0.0 and ::, or an IPv4 address and the IPv6 one of the same
    // first bytes, are different hosts.
    const auto v4 = *Address::parse("1.2.3.4");
    EXPECT_EQ(std::unordered_set<Address>({v4, *Address::parse("102:304::"), v4, Address{}, *Address::parse("::")}).size(),
              4u);
}

}  // namespace
