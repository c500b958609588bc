// -g's ranges at their edges: which addresses a prefix gives, in what
// order, and where a range stops being one.

#include "runs/host_range.h"

#include <gtest/gtest.h>

namespace {

TEST(HostRange, GivesEveryAddressInOrderAndOnlyWhatFpingWouldPing)
{
    const struct {
        QByteArrayList arguments;
        std::uint64_t size;  // 0: refused
        const char* first;   // or the start of the refusal
        const char* last = "";
    } cases[] = {
        {{"127.0.0.1/32"}, 1, "127.0.0.1", "127.0.0.1"},
        {{"127.0.0.0/31"}, 2, "127.0.0.0", "127.0.0.1"},
        {{"127.0.0.5/30"}, 2, "127.0.0.5", "127.0.0.6"},
        {{"198.51.100.77/24"}, 254, "198.51.100.1", "198.51.100.254"},
        {{"198.18.0.0/15"}, 131070, "198.18.0.1", "198.19.255.254"},
        {{"198.16.0.0/14"}, 0, "-g 198.16.0.0/14 gives more than 131072 addresses"},
        {{"2001:db8::1/128"}, 1, "2001:db8::1", "2001:db8::1"},
        {{"2001:db8::7/127"}, 2, "2001:db8::6", "2001:db8::7"},
        {{"2001:db8::1:0/120"}, 256, "2001:db8::1:0", "2001:db8::1:ff"},
        {{"2001:db8::/111"}, 131072, "2001:db8::", "2001:db8::1:ffff"},
        {{"2001:db8::/110"}, 0, "-g 2001:db8::/110 gives more than"},
        {{"198.51.100.255", "198.51.101.1"}, 3, "198.51.100.255", "198.51.101.1"},
        {{"2001:db8::ffff", "2001:db8::1:0"}, 2, "2001:db8::ffff", "2001:db8::1:0"},
        {{"10.0.0.0", "10.2.0.0"}, 0, "-g 10.0.0.0 10.2.0.0 gives more than 131072 addresses"},
        {{"10.0.0.0", "10.1.255.255"}, 131072, "10.0.0.0", "10.1.255.255"},
        {{"127.0.0.9", "127.0.0.1"}, 0, "-g 127.0.0.9 127.0.0.1: the first address comes after the last."},
        {{"127.0.0.1", "::1"}, 0, "-g 127.0.0.1 ::1: the first and the last address are not of one family."},
        {{"127.0.0.1", "localhost"}, 0, "-g 127.0.0.1 localhost: \"localhost\" is not a numeric"},
        {{"127.0.0.0/33"}, 0, "-g 127.0.0.0/33: an IPv4 prefix is 0 to 32 bits long."},
        {{"::/129"}, 0, "-g ::/129: an IPv6 prefix is 0 to 128 bits long."},
        {{"127.0.0.0/+8"}, 0, "-g 127.0.0.0/+8: a range is ADDRESS/BITS"},
        {{"127.0.0.1"}, 0, "-g 127.0.0.1: a range is"},
        {{QByteArray("127.0.0.1\0x/32", 14)}, 0, "-g 127.0.0.1"},
    };
    for (const auto& c : cases) {
        const std::string arguments = c.arguments.join(' ').toStdString();
        runs::HostRange::Parsed parsed = runs::HostRange::parse(c.arguments);
        if (c.size == 0) {
            EXPECT_FALSE(parsed.range) << arguments;
            EXPECT_TRUE(parsed.error.startsWith(QString::fromUtf8(c.first)))
                << arguments << ": " << parsed.error.toStdString();
            continue;
        }
        ASSERT_TRUE(parsed.range) << arguments << ": " << parsed.error.toStdString();
        EXPECT_EQ(parsed.range->size(), c.size) << arguments;
        // Every address once, each after the one before it.
        QStringList given;
        while (const std::optional<QString> next = parsed.range->next())
            given.append(*next);
        ASSERT_EQ(static_cast<std::uint64_t>(given.size()), c.size) << arguments;
        EXPECT_EQ(given.first().toStdString(), c.first) << arguments;
        EXPECT_EQ(given.last().toStdString(), c.last) << arguments;
        for (qsizetype i = 1; i < given.size(); ++i)
            ASSERT_LT(icmp::Address::parse(given[i - 1].toStdString()), icmp::Address::parse(given[i].toStdString()))
                << arguments << " at " << i;
    }
}

}  // namespace
