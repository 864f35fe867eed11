// The print file pre-analysis on real files.
#include "layout/pre_analysis.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace velarion::testing {
namespace {

class PreAnalysisTest : public ::testing::Test {
protected:
    // Runs the analysis on a file of `lines` lines made by `line(n)`.
    template <typename F>
    const PreAnalysis& analyse(long lines, F line) {
        std::string text;
        for (long n = 1; n <= lines; ++n) text += line(n) + "\r\n";
        write_file(dir / "000001.txt", text);
        pre = AnalizzaTXT(tc.rt, dir / "000001.txt");
        return pre;
    }
    const PreAnalysis& analyse(long lines) {
        return analyse(lines, [](long n) { return "riga " + std::to_string(n); });
    }

    TempDir dir;
    TestContext tc;
    PreAnalysis pre;
};

TEST_F(PreAnalysisTest, PageLengthOfContinuousListings) {
    EXPECT_EQ(analyse(132).page_length, 66);
    EXPECT_EQ(pre.line_count, 132);
    EXPECT_EQ(analyse(144).page_length, 213);  // not a multiple of 66
    EXPECT_EQ(analyse(792).page_length, 213);  // a multiple of 72 as well
    EXPECT_EQ(analyse(66, [](long n) { return n == 30 ? std::string("\f") : "x"; }).page_length,
              213);
    EXPECT_EQ(analyse(66, [](long n) { return n == 2 ? std::string("%LOGO:FATT") : "x"; })
                  .page_length,
              213);
    const auto& empty = analyse(0);
    EXPECT_EQ(empty.line_count, 0);
    EXPECT_EQ(empty.page_length, 213);
}

TEST_F(PreAnalysisTest, CondensedOnlyWhenEndedOnTheLastLine) {
    auto text = [](long last_off) {
        return [last_off](long n) {
            std::string l = n == 1 ? "\x0f" "inizio" : "riga";
            if (n == last_off) l += "\x12";
            return l;
        };
    };
    EXPECT_TRUE(analyse(10, text(10)).condensed);
    EXPECT_FALSE(analyse(10, text(5)).condensed);
    EXPECT_FALSE(analyse(10, text(0)).condensed);
    EXPECT_TRUE(analyse(3, [](long n) { return n == 1 ? std::string("\x0f") : "\x14"; }).condensed);
}

TEST_F(PreAnalysisTest, PageSectionEndAndLastLines) {
    const auto& none = analyse(5);
    EXPECT_EQ(none.page_section_end, 9999999);
    EXPECT_EQ(none.last_line, "riga 5");
    EXPECT_EQ(none.line_before_last, "riga 4");

    const auto& page = analyse(50, [](long n) {
        if (n == 10) return std::string("/PAGE 1");
        return std::string(n <= 40 ? "testo" : "");
    });
    EXPECT_EQ(page.page_section_end, 40);
    EXPECT_EQ(page.last_line, "");
}

TEST_F(PreAnalysisTest, ActivityLinesAndAMissingFile) {
    analyse(3);
    const std::string t = "07/12/2026 10:30:00";
    const auto& lines = tc.list.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], t + " Inizio AnalizzaTXT " + dir.path() + "000001.txt");
    EXPECT_EQ(lines[1], t + " Fine  AnalizzaTXT " + dir.path() + "000001.txt ultima riga  3");

    pre = AnalizzaTXT(tc.rt, dir / "missing.txt");
    EXPECT_EQ(tc.list.lines().back(), t + " Inizio AnalizzaTXT " + dir.path() + "missing.txt");
    EXPECT_EQ(pre.line_count, 0);
    EXPECT_FALSE(pre.condensed);
}

TEST_F(PreAnalysisTest, ATenThousandPageListingIsReadInOnePass) {
    const auto& pre = analyse(660000);
    EXPECT_EQ(pre.line_count, 660000);
    EXPECT_EQ(pre.page_length, 66);
}

}  // namespace
}  // namespace velarion::testing
