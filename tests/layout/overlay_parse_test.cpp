#include <gtest/gtest.h>

#include "layout/overlay.h"
#include "layout/overlay_support.h"
#include "support/test_support.h"

namespace velarion {
namespace {

TEST(SplitTabFields, FieldsFromOneAndAtMostFifteen) {
    TabFields f = SplitTabFields("lbl\tRETT\t0.5\t10");
    EXPECT_EQ(f.count, 4);
    EXPECT_EQ(f[1], "lbl");
    EXPECT_EQ(f[2], "RETT");
    EXPECT_EQ(f[4], "10");
    EXPECT_EQ(f[5], "");

    std::string line;
    for (int i = 1; i <= 18; ++i) line += "f" + std::to_string(i) + "\t";
    f = SplitTabFields(line);
    EXPECT_EQ(f.count, 15);
    EXPECT_EQ(f[15], "f15");

    f = SplitTabFields("a\tb\t");  // an empty last field is not counted
    EXPECT_EQ(f.count, 2);
    EXPECT_EQ(SplitTabFields("").count, 0);
}

TEST(SplitWords, WordsKeepTheirSpace) {
    WordTable w;
    EXPECT_EQ(SplitWords("ab  cd e", w), 3);
    EXPECT_EQ(w[0], "ab ");
    EXPECT_EQ(w[1], " ");
    EXPECT_EQ(w[2], "cd ");
    EXPECT_EQ(w[3], "e");
    EXPECT_EQ(SplitWords("end ", w), 0);
    EXPECT_EQ(w[0], "end ");
    EXPECT_EQ(w[1], "");  // emptied before the split
    EXPECT_EQ(SplitWords("", w), -1);

    std::string hundred, more;
    for (int i = 0; i < 100; ++i) hundred += "w ";
    EXPECT_EQ(SplitWords(hundred, w), 99);
    more = hundred + "x";
    EXPECT_THROW(SplitWords(more, w), NumberedError);
}

TEST(NormalizeDecimal, FollowsTheSystemSeparator) {
    testing::TestContext t;
    t.cfg.host.decimal_separator = ".";
    EXPECT_EQ(NormalizeDecimal(t.rt, "12.5"), "12.5");
    EXPECT_DOUBLE_EQ(overlay::ToNumber(t.rt, " 12.5 "), 12.5);
    EXPECT_FALSE(overlay::TryNumber(t.rt, "12,5"));
    t.cfg.host.decimal_separator = ",";
    EXPECT_EQ(NormalizeDecimal(t.rt, "1.2.3"), "1,2,3");
    EXPECT_DOUBLE_EQ(overlay::ToNumber(t.rt, "12.5"), 12.5);
    EXPECT_DOUBLE_EQ(overlay::ToNumber(t.rt, "-3"), -3);
    EXPECT_FALSE(overlay::TryNumber(t.rt, ""));
    EXPECT_FALSE(overlay::TryNumber(t.rt, "abc"));
    EXPECT_FALSE(overlay::TryNumber(t.rt, "1x"));
}

TEST(ParseColour, ThreePartsOrAnError) {
    testing::TestContext t;
    const overlay::Colour c = overlay::ParseColour(t.rt, "255,128,0");
    EXPECT_EQ(c.red, 255);
    EXPECT_EQ(c.green, 128);
    EXPECT_EQ(c.blue, 0);
    try {
        overlay::ParseColour(t.rt, "255,0");
        FAIL();
    } catch (const NumberedError& e) {
        EXPECT_EQ(e.number(), 9);
    }
    try {
        overlay::ParseColour(t.rt, "red,0,0");
        FAIL();
    } catch (const NumberedError& e) {
        EXPECT_EQ(e.number(), 13);
    }
}

}  // namespace
}  // namespace velarion
