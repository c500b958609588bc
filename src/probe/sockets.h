#pragma once

#include <QString>

#include <cstdint>

// Windows Sockets around each ping, and names turned into dotted IPv4 text.

bool StartSockets();
void StopSockets();
QString ResolveHostName(const QString& hostName);
QString DottedFromAddress(std::uint32_t address);
QString StringFromAnsiPtr(const char* ansi);
