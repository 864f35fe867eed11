#include "platform/pdf/truetype_font.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;

const std::string kSerif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";

// The subset is a font of its own: read back, the used codes keep their
// glyph numbers and widths, so the font dictionary written from the whole
// font stays true for it; the unused outlines are gone.
TEST(TrueTypeFont, SubsetKeepsGlyphNumbersAndWidthsOfTheUsedCodes) {
    if (!fs::exists(kSerif)) GTEST_SKIP() << "no " << kSerif;
    const auto font = pdfwriter::read_truetype_font(kSerif);
    ASSERT_TRUE(font);
    std::array<bool, 256> used{};
    for (unsigned char c : std::string("Fattura \x80 caf\xe8 \x97")) used[c] = true;  // euro, accented, dash

    testing::TempDir dir;
    const std::string program = pdfwriter::font_program(*font, used);
    testing::write_file(dir / "subset.ttf", program);
    const auto subset = pdfwriter::read_truetype_font(dir / "subset.ttf");
    ASSERT_TRUE(subset);
    EXPECT_LT(program.size(), font->file.size() / 10);
    EXPECT_EQ(subset->name, font->name);
    EXPECT_EQ(subset->missing_width, font->missing_width);
    for (unsigned code = 0; code < 256; ++code) {
        if (!used[code]) continue;
        EXPECT_NE(font->glyphs[code], 0) << code;
        EXPECT_EQ(subset->glyphs[code], font->glyphs[code]) << code;
        EXPECT_EQ(subset->widths[code], font->widths[code]) << code;
    }
    // A code not used is no longer mapped to its glyph.
    EXPECT_EQ(subset->glyphs['Z'], 0);
}

}  // namespace
}  // namespace velarion
