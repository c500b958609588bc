#pragma once

#include <QLatin1StringView>
#include <QString>

#include <cstdint>

// The text the operator reads for the status of one echo: the code, three
// blanks, and the message in brackets.
QString EchoStatusText(std::int32_t status);

// The message alone, as the status text has it in brackets.
QLatin1StringView EchoStatusMessage(std::int32_t status);
