#pragma once

#include "platform/net/network.h"

#include <cstddef>
#include <cstdint>

// The reply record of one echo: the platform's reply in its 32-bit layout
// with 250 bytes of room behind it for the returned data.
struct EchoOptions {
    std::uint8_t Ttl;
    std::uint8_t Tos;
    std::uint8_t Flags;
    std::uint8_t OptionsSize;
    std::uint32_t OptionsData;
};

// 278 bytes exactly, as the buffer size handed to the platform says: no
// tail padding to a multiple of four.
#pragma pack(push, 2)
struct EchoReply {
    std::uint32_t Address;
    std::int32_t Status;
    std::uint32_t RoundTripTime;
    std::uint16_t DataSize;
    std::uint16_t Reserved;
    std::uint32_t Data;
    EchoOptions Options;
    std::uint8_t DataArea[250];
};
#pragma pack(pop)

static_assert(sizeof(EchoOptions) == 8);
static_assert(offsetof(EchoOptions, Ttl) == 0);
static_assert(offsetof(EchoOptions, Tos) == 1);
static_assert(offsetof(EchoOptions, Flags) == 2);
static_assert(offsetof(EchoOptions, OptionsSize) == 3);
static_assert(offsetof(EchoOptions, OptionsData) == 4);

static_assert(sizeof(EchoReply) == 278);
static_assert(offsetof(EchoReply, Address) == 0);
static_assert(offsetof(EchoReply, Status) == 4);
static_assert(offsetof(EchoReply, RoundTripTime) == 8);
static_assert(offsetof(EchoReply, DataSize) == 12);
static_assert(offsetof(EchoReply, Reserved) == 14);
static_assert(offsetof(EchoReply, Data) == 16);
static_assert(offsetof(EchoReply, Options) == 20);
static_assert(offsetof(EchoReply, DataArea) == 28);

// The platform writes its own reply record into this one.
static_assert(offsetof(EchoReply, Status) == offsetof(platform::ICMP_ECHO_REPLY, Status));
static_assert(offsetof(EchoReply, DataArea) == sizeof(platform::ICMP_ECHO_REPLY));
