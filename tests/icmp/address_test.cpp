#include "icmp/address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <unordered_set>

namespace {

using icmp::Address;

// What an operator may write, and what the JSON and the output must say
// of it: one text per address, whatever form it came in.
TEST(Address, ReadsNumericAddressesOfBothFamiliesAndWritesTheirOneForm)
{
    struct Row {
        const char* written;
        icmp::Family family;
        const char* text;
    };
    const Row rows[] = {
        {"127.0.0.1", icmp::Family::V4, "127.0.0.1"},
        {"::1", icmp::Family::V6, "::1"},
        {"2001:DB8:0:0:0:0:0:1", icmp::Family::V6, "2001:db8::1"},
        {"2001:db8:0:1:0:0:0:1", icmp::Family::V6, "2001:db8:0:1::1"},       // the first of two equal runs
        {"2001:db8:0:0:1:0:0:0", icmp::Family::V6, "2001:db8:0:0:1::"},      // the longer run
        {"2001:db8:1:1:1:1:0:1", icmp::Family::V6, "2001:db8:1:1:1:1:0:1"},  // one zero group stays
        {"::ffff:192.0.2.1", icmp::Family::V6, "::ffff:192.0.2.1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.written);
        const auto address = Address::parse(row.written);
        ASSERT_TRUE(address);
        EXPECT_EQ(address->family(), row.family);
        EXPECT_EQ(address->text(), row.text);
        EXPECT_EQ(Address::parse(address->text()), address);
    }
    EXPECT_EQ(Address::parse("127.0.0.1")->v4NetworkOrder(), Address::v4(htonl(0x7f000001)).v4NetworkOrder());
    EXPECT_EQ(Address::parse("::1")->v4NetworkOrder(), 0u);
}

TEST(Address, RefusesWhatIsNoNumericAddress)
{
    for (const std::string_view text :
         {std::string_view{}, std::string_view{"localhost"}, std::string_view{"127.0.0.1\0.5", 12},
          std::string_view{"1.2.3"}, std::string_view{"::1 "}, std::string_view{"[::1]"},
          std::string_view{"fe80::1%lo"}, std::string_view{"1111:2222:3333:4444:5555:6666:7777:8888:9999"}}) {
        SCOPED_TRACE(std::string(text));
        EXPECT_FALSE(Address::parse(text));
    }
}

// 0.0.0.0 and :: are different hosts, as are an IPv4 address and the IPv6
// address whose first bytes are the same.
TEST(Address, TellsTheFamiliesApart)
{
    const auto v4 = *Address::parse("1.2.3.4");
    const auto v6 = *Address::parse("102:304::");
    EXPECT_NE(v4, v6);
    EXPECT_NE(Address{}, *Address::parse("::"));
    EXPECT_EQ(std::unordered_set<Address>({v4, v6, v4}).size(), 2u);
    EXPECT_EQ(v4.bytes().size(), 4u);
    EXPECT_EQ(v6.bytes().size(), 16u);
}

}  // namespace
