#include "platform/runtime_error.h"
#include "runs/timeout.h"

#include <gtest/gtest.h>

namespace {

// "", "-1" and "2147483648" are rows of the Start button's table (tests/ui).
TEST(TimeoutMilliseconds, TakesBlanksASignAndDigitsFromZeroTo32BitsLargest)
{
    const struct {
        const char* text;
        std::int32_t value;
        int error;  // the runtime error number, or 0
    } cases[] = {
        {"500", 500, 0},     {" \t+0042 ", 42, 0},  {"-0", 0, 0},      {"2147483647", 2147483647, 0},
        {" \t-0042 ", 0, 6}, {"-2147483648", 0, 6}, {"-", 0, 13},      {"1.5", 0, 13},
        {"0x10", 0, 13},     {"1 2", 0, 13},        {"\uFF15", 0, 13}, {"99999999999999999999999", 0, 6},
    };
    for (const auto& c : cases) {
        const QString text = QString::fromUtf8(c.text);
        try {
            EXPECT_EQ(runs::TimeoutMilliseconds(text), c.value) << c.text;
            EXPECT_EQ(c.error, 0) << c.text;
        } catch (const platform::RuntimeError& error) {
            EXPECT_EQ(error.number(), c.error) << c.text;
            EXPECT_TRUE(error.description().contains(QLatin1Char('"') + text + QLatin1Char('"'))) << c.text;
        }
    }
}

}  // namespace
