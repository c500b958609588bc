#include "runs/timeout.h"

#include "platform/runtime_error.h"

#include <algorithm>
#include <limits>

namespace runs {

std::int32_t TimeoutMilliseconds(const QString& text)
{
    const auto isBlank = [](QChar c) { return c == u' ' || c == u'\t'; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;

    const auto notANumber = [&] {
        return platform::RuntimeError(platform::error_number::TypeMismatch,
                                      QStringLiteral("the ping timeout \"%1\" is not a whole number.").arg(text));
    };
    const bool negative = begin < end && text[begin] == u'-';
    if (begin < end && (text[begin] == u'-' || text[begin] == u'+'))
        ++begin;
    if (begin == end)
        throw notANumber();

    // Digits beyond the range only need to be told apart from it.
    constexpr std::int64_t kBeyond = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 2;
    std::int64_t magnitude = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const QChar c = text[i];
        if (c < u'0' || c > u'9')
            throw notANumber();
        magnitude = std::min(magnitude * 10 + (c.unicode() - u'0'), kBeyond);
    }
    // The echo takes the timeout unsigned: -1 would wait for 49.7 days.
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < 0 || value > std::numeric_limits<std::int32_t>::max())
        throw platform::RuntimeError(platform::error_number::Overflow,
                                     QStringLiteral("the ping timeout \"%1\" lies outside 0 to 2147483647.").arg(text));
    return static_cast<std::int32_t>(value);
}

}  // namespace runs
