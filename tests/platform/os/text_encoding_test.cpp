#include "platform/os/text_encoding.h"

#include <gtest/gtest.h>

namespace velarion {
namespace {

TEST(TextEncoding, AsciiStaysAsItIsAndOtherBytesAreConvertedBothWays) {
    std::string ascii;
    for (int c = 0; c < 0x80; ++c) ascii += static_cast<char>(c);
    EXPECT_EQ(text::cp1252_to_utf8(ascii), ascii);
    EXPECT_EQ(text::utf8_to_cp1252(ascii), ascii);

    // One byte above ASCII anywhere in the text makes the whole text converted.
    EXPECT_EQ(text::cp1252_to_utf8("Citt\xe0 \x80 5"), "Citt\xc3\xa0 \xe2\x82\xac 5");
    EXPECT_EQ(text::utf8_to_cp1252("Citt\xc3\xa0 \xe2\x82\xac 5"), "Citt\xe0 \x80 5");
    // Bytes Windows-1252 leaves undefined, and characters it lacks, become "?".
    EXPECT_EQ(text::cp1252_to_utf8("a\x81z"), "a?z");
    EXPECT_EQ(text::utf8_to_cp1252("a\xe4\xb8\xad"), "a?");
    EXPECT_EQ(text::cp1252_to_utf8(""), "");
}

}  // namespace
}  // namespace velarion
