#include "platform/net/echo_reply_record.h"

#include <cstring>
#include <vector>

#include <gtest/gtest.h>

namespace platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(ReplyRecord, AlwaysHoldsAStatus)
{
    std::uint8_t buffer[278];
    std::memset(buffer, 0xCC, sizeof buffer);
    const Bytes data{'E', 'C', 'H', 'O'};

    icmp::Settled answered;
    answered.address = icmp::Address::v4(0x0100007F);
    answered.roundTripMs = 3;
    answered.ttl = 64;
    answered.data = data;
    EXPECT_EQ(writeReply(buffer, sizeof buffer, answered), 1u);
    platform::ICMP_ECHO_REPLY record;
    std::memcpy(&record, buffer, sizeof record);
    EXPECT_EQ(record.Status, 0u);
    EXPECT_EQ(record.Address, 0x0100007Fu);
    EXPECT_EQ(record.RoundTripTime, 3u);
    EXPECT_EQ(record.DataSize, 4);
    EXPECT_EQ(record.Options.Ttl, 64);
    EXPECT_EQ(std::memcmp(buffer + record.Data, "ECHO", 4), 0);

    icmp::Settled timedOut;
    timedOut.status = platform::IP_REQ_TIMED_OUT;
    EXPECT_EQ(writeReply(buffer, sizeof buffer, timedOut), 0u);
    std::memcpy(&record, buffer, sizeof record);
    EXPECT_EQ(record.Status, 11010u);
    EXPECT_EQ(record.DataSize, 0);

    // The record is IPv4's: no part of an IPv6 address goes into it.
    icmp::Settled answered6 = answered;
    answered6.address = *icmp::Address::parse("2001:db8::7f00:1");
    EXPECT_EQ(writeReply(buffer, sizeof buffer, answered6), 1u);
    std::memcpy(&record, buffer, sizeof record);
    EXPECT_EQ(record.Address, 0u);

    // Data that has no room, and a buffer too small for the record.
    EXPECT_EQ(writeReply(buffer, 30, answered), 0u);
    std::memcpy(&record, buffer, sizeof record);
    EXPECT_EQ(record.Status, 11001u);
    std::memset(buffer, 0xCC, sizeof buffer);
    writeReply(buffer, 8, answered);
    std::uint32_t status;
    std::memcpy(&status, buffer + 4, 4);
    EXPECT_EQ(status, 11001u);
    EXPECT_EQ(buffer[8], 0xCC);
}

}  // namespace
}  // namespace platform
