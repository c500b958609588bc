// The timeout box's conversion over any text (the input as UTF-8): a value
// from 0 to 2147483647 or the documented runtime error, as a plain reading
// of the documented format gives. A negative number is refused as out of
// range: the echo would take it unsigned and wait for weeks.

#include "platform/runtime_error.h"
#include "require.h"
#include "runs/timeout.h"

#include <cstdint>
#include <limits>

namespace {

struct Expected {
    std::int64_t value = 0;
    int error = 0;
};

// Blanks (space, tab) around, an optional sign, ASCII digits.
Expected reference(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    const bool negative = begin < end && text[begin] == u'-';
    if (begin < end && (text[begin] == u'-' || text[begin] == u'+'))
        ++begin;
    if (begin == end)
        return {0, platform::error_number::TypeMismatch};
    std::int64_t value = 0;
    for (qsizetype i = begin; i < end; ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return {0, platform::error_number::TypeMismatch};
        if (value <= std::numeric_limits<std::uint32_t>::max())
            value = value * 10 + (text[i].unicode() - u'0');
    }
    value = negative ? -value : value;
    if (value < 0 || value > std::numeric_limits<std::int32_t>::max())
        return {0, platform::error_number::Overflow};
    return {value, 0};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* input, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(input), static_cast<qsizetype>(size));
    const Expected expected = reference(text);
    try {
        const std::int32_t value = runs::TimeoutMilliseconds(text);
        FUZZ_REQUIRE(expected.error == 0 && value == expected.value);
    } catch (const platform::RuntimeError& error) {
        // The error names the text as typed, so the operator sees what was wrong.
        FUZZ_REQUIRE(error.number() == expected.error && error.description().contains(text));
    }
    return 0;
}
