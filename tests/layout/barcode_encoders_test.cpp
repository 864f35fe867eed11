#include "layout/barcode_encoders.h"

#include <gtest/gtest.h>

namespace velarion {
namespace {

std::string chr(int c) { return std::string(1, static_cast<char>(c)); }

TEST(BarcodeEncoders, Code128bOfOneLetter) {
    std::string data = "A";
    // 104 + 1 x 33 = 137; 137 mod 103 = 34: "B".
    EXPECT_EQ(Code128b(data), chr(204) + "AB" + chr(206) + " ");
}

TEST(BarcodeEncoders, Code128TrimsInPlaceAndWritesSpacesAsChr194) {
    std::string data = "  A B  ";
    const std::string out = Code128b(data);
    EXPECT_EQ(data, "A B");
    // 104 + 33 + 2 x 0 + 3 x 34 = 239; 239 mod 103 = 33: "A".
    EXPECT_EQ(out, chr(204) + "A" + chr(194) + "B" + "A" + chr(206) + " ");
}

TEST(BarcodeEncoders, CheckValueZeroAndHighValues) {
    std::string a = "!S";  // 103 + 1 + 2 x 51 = 206 = 2 x 103
    EXPECT_EQ(Code128a(a), chr(203) + "!S" + chr(194) + chr(206) + " ");
    std::string b = "\"R";  // 104 + 2 + 2 x 50 = 206
    EXPECT_EQ(Code128b(b), chr(204) + "\"R" + chr(194) + chr(206) + " ");
    // 104 + 94 = 198; mod 103 = 95: above 94, written as Chr(195).
    std::string c = "~";
    EXPECT_EQ(Code128b(c), chr(204) + "~" + chr(195) + chr(206) + " ");
}

TEST(BarcodeEncoders, ValueMapping) {
    EXPECT_EQ(Code128Value(194), 0);
    EXPECT_EQ(Code128Value(' '), 0);
    EXPECT_EQ(Code128Value('A'), 33);
    EXPECT_EQ(Code128Value(126), 94);
    EXPECT_EQ(Code128Value(195), 95);
    EXPECT_EQ(Code128Value(206), 106);
    for (int v = 0; v <= 106; ++v) EXPECT_EQ(Code128Value(static_cast<unsigned char>(Code128Char(v))), v);
}

TEST(BarcodeEncoders, InterleavedTwoOfFive) {
    std::string odd = " 1-2 3 ";
    EXPECT_EQ(I2of5(odd), chr(203) + chr(34) + chr(56) + chr(204) + " ");
    EXPECT_EQ(odd, "1-2 3");
    std::string high = "9499";  // pairs 94 and 99 take Chr(n + 103)
    EXPECT_EQ(I2of5(high), chr(203) + chr(197) + chr(202) + chr(204) + " ");
    std::string none = "abc";
    EXPECT_EQ(I2of5(none), chr(203) + chr(204) + " ");
}

TEST(BarcodeEncoders, Code39) {
    std::string data = " AB 1 ";
    EXPECT_EQ(Code39(data), "!AB=1!");
    EXPECT_EQ(data, "AB 1");
    std::string empty = "   ";
    EXPECT_EQ(Code39(empty), "!!");
}

}  // namespace
}  // namespace velarion
