#include "layout/code128.h"

#include <gtest/gtest.h>

namespace velarion {
namespace {

std::string chr(int c) { return std::string(1, static_cast<char>(c)); }

TEST(Code128Auto, DigitsStartInSetCAndSwitchToBForTheOddOne) {
    std::string data = "12345";
    // 105 + 1x12 + 2x34 + 3x100 + 4x21 = 569; mod 103 = 54: "V".
    EXPECT_EQ(Code128(data, 0), chr(205) + "," + "B" + chr(200) + "5" + "V" + chr(206) + " ");
    EXPECT_EQ(data, "");
}

TEST(Code128Auto, LettersInSetB) {
    std::string data = "AB";
    // 104 + 33 + 68 = 205; mod 103 = 102: Chr(202).
    EXPECT_EQ(Code128(data, 0), chr(204) + "AB" + chr(202) + chr(206) + " ");
    data = "AB";
    EXPECT_EQ(Code128(data, 2), chr(202));
}

TEST(Code128Auto, SwitchesBetweenSets) {
    std::string mixed = "AB12345";
    const std::string out = Code128(mixed, 0);
    EXPECT_EQ(out.substr(0, 8), chr(204) + "AB" + chr(199) + "," + "B" + chr(200) + "5");
    std::string control = "\x01" "AB";
    EXPECT_EQ(Code128(control, 0).substr(0, 4), chr(203) + chr(97) + "AB");
    std::string lower = "\x01" "a";
    EXPECT_EQ(Code128(lower, 0).substr(0, 4), chr(203) + chr(97) + chr(200) + "a");
    std::string spaced = "A B";
    EXPECT_EQ(Code128(spaced, 0).substr(0, 4), chr(204) + "A" + chr(194) + "B");
}

TEST(Code128Auto, Fnc1AndApplicationIdentifiers) {
    std::string gs1 = chr(202) + "0112345678901231";
    const std::string out = Code128(gs1, 0);
    EXPECT_EQ(out.substr(0, 3), chr(205) + chr(202) + "!");  // the pair "01" is value 1
    EXPECT_EQ(out.size(), 1u + 1u + 8u + 3u);  // start, FNC1, 8 pairs, check, stop, space

    std::string readable = chr(202) + "0112345678901231";
    EXPECT_EQ(Code128(readable, 1), " (01) 12345678901231");
    std::string three = chr(202) + "4211234";  // AI 421: three digits
    EXPECT_EQ(Code128(three, 1), " (421) 1234");
    std::string four = chr(202) + "8005123456";  // AI 8005: four digits
    EXPECT_EQ(Code128(four, 1), " (8005) 123456");
    std::string fixed = chr(212) + "10ABC" + chr(213) + "2401234";
    EXPECT_EQ(Code128(fixed, 1), " (10) ABC (240) 1234");
    std::string controls = "A\tB" + chr(233);
    EXPECT_EQ(Code128(controls, 1), "A B");
}

}  // namespace
}  // namespace velarion
