// Lines read with a bound: what is kept, what is skipped, and where the next
// line begins, whatever the length of a line against the read buffer.
#include "common/bounded_line.h"

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/activity_list.h"
#include "platform/os/clock.h"

namespace velarion {
namespace {

std::vector<std::string> all_lines(const std::string& text, std::size_t max) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string line; read_bounded_line(in, line, max);) out.push_back(line);
    return out;
}

TEST(BoundedLine, ReadsAsGetlineDoesAndCutsLongLines) {
    using V = std::vector<std::string>;
    EXPECT_EQ(all_lines("", 10), V{});
    EXPECT_EQ(all_lines("a\n\nb", 10), (V{"a", "", "b"}));
    EXPECT_EQ(all_lines("a\nb\n", 10), (V{"a", "b"}));
    EXPECT_EQ(all_lines("0123456789ABC\nnext\r\n", 10), (V{"0123456789", "next\r"}));
    // Lines about the size of the read buffer (8 KB), ended or not.
    for (std::size_t n : {8190u, 8191u, 8192u, 8193u, 16382u, 16383u, 16384u}) {
        const std::string big(n, 'x');
        EXPECT_EQ(all_lines(big + "\nz", 100000), (V{big, "z"})) << n;
        EXPECT_EQ(all_lines(big, 100000), V{big}) << n;
        EXPECT_EQ(all_lines(big + "\n", 5), V{"xxxxx"}) << n;
    }
}

TEST(BoundedLine, AMillionByteLineKeepsOnlyTheBound) {
    std::istringstream in(std::string(1'000'000, 'y') + "\nfine\n");
    std::string line;
    ASSERT_TRUE(read_bounded_line(in, line));
    EXPECT_EQ(line.size(), kMaxPrintLine);
    ASSERT_TRUE(read_bounded_line(in, line));
    EXPECT_EQ(line, "fine");
    EXPECT_FALSE(read_bounded_line(in, line));
}

TEST(ActivityListLines, LongLinesAreCutWithAMark) {
    FixedClock clock(make_datetime(2026, 12, 7, 10, 30, 0));
    ActivityList list(clock);
    list.add(" " + std::string(50000, 'n'));
    list.add(" breve");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.lines()[0].size(), ActivityList::kMaxLine);
    EXPECT_TRUE(list.lines()[0].ends_with("nnn [...]"));
    EXPECT_EQ(list.lines()[1], "07/12/2026 10:30:00 breve");
    list.add(std::string(ActivityList::kMaxLine - 19, 'k'));
    EXPECT_EQ(list.lines()[2].size(), ActivityList::kMaxLine);
    EXPECT_FALSE(list.lines()[2].ends_with("[...]"));
}

}  // namespace
}  // namespace velarion
