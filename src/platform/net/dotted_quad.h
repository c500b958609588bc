#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace platform {

// Four decimal numbers from 0 to 255 joined by dots, none with a leading
// zero, and nothing else: the form nearly every list holds, read without
// the C library's inet_aton, whose strtoul-based reading cost a loopback
// echo a tenth of its time in user space. Any other text is nullopt and
// goes to inet_aton, which also reads the older forms (127.1, 0x7f.1,
// octal parts); on this form both give the same address. Network order.
std::optional<std::uint32_t> PlainDottedQuad(std::string_view text);

}  // namespace platform
