#pragma once

#include "icmp/address.h"

#include <QString>

#include <cstdint>
#include <optional>

// Windows Sockets around each ping, and names turned into dotted IPv4 text.

bool StartSockets();
void StopSockets();
QString ResolveHostName(const QString& hostName);
// The same look-up's first address as a number, without its dotted text.
std::optional<icmp::Address> ResolveHostAddress(const QString& hostName);
QString DottedFromAddress(std::uint32_t address);
QString StringFromAnsiPtr(const char* ansi);
