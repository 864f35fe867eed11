#include "common/number_text.h"

#include <gtest/gtest.h>

#include <climits>

namespace velarion {
namespace {

TEST(NumberText, FiniteNumbersOnly) {
    EXPECT_EQ(to_number(" 8,5 "), 8.5);
    EXPECT_EQ(to_number("+1.5e2"), 150);
    for (const char* t : {"", "12a", "inf", "-inf", "infinity", "nan", "NAN(1)", "1e999", "0x10", "1..2"})
        EXPECT_FALSE(to_number(t)) << t;
}

TEST(NumberText, WholeNumbersWithinTheirRange) {
    EXPECT_EQ(to_whole_number("66.9", 1, INT_MAX), 66);
    EXPECT_EQ(to_whole_number("-3.7", INT_MIN, INT_MAX), -3);
    EXPECT_EQ(to_whole_number("2147483647", 1, INT_MAX), INT_MAX);
    EXPECT_EQ(to_whole_number("-2147483648", INT_MIN, INT_MAX), INT_MIN);
    for (const char* t : {"2147483648", "1e10", "-1e300", "0.5", "0", "nan", ""})
        EXPECT_FALSE(to_whole_number(t, 1, INT_MAX)) << t;

    EXPECT_EQ(to_whole_number_clamped("1e10", 0, 255, 0), 255);
    EXPECT_EQ(to_whole_number_clamped("-1e10", 0, 255, 0), 0);
    EXPECT_EQ(to_whole_number_clamped("128.9", 0, 255, 0), 128);
    EXPECT_EQ(to_whole_number_clamped("nan", 0, 255, 7), 7);
}

}  // namespace
}  // namespace velarion
