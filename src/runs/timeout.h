#pragma once

#include <QString>

#include <cstdint>

namespace runs {

// The echo timeout in milliseconds from the text of the timeout box:
// optional blanks around, an optional sign and decimal digits. Anything
// else is the type-mismatch error, a number outside 0 to 2147483647 the
// overflow error; both name the text.
std::int32_t TimeoutMilliseconds(const QString& text);

}  // namespace runs
