#include "platform/pdf/font_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/test_support.h"

namespace velarion {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::write_file;

// HOME pointed at a temporary folder, so that ~/.fonts is one of the system
// font folders; restored afterwards.
struct FontFinderTest : ::testing::Test {
    FontFinderTest() {
        if (const char* h = std::getenv("HOME")) saved_home = h;
        ::setenv("HOME", (dir / "home").c_str(), 1);
        fonts = dir / "home/.fonts/truetype";
        fs::create_directories(fonts);
    }
    ~FontFinderTest() override {
        if (saved_home.empty())
            ::unsetenv("HOME");
        else
            ::setenv("HOME", saved_home.c_str(), 1);
    }
    TempDir dir;
    std::string saved_home;
    std::string fonts;
};

TEST_F(FontFinderTest, RemembersForTheRunButSeesAFontInstalledOrRemovedMeanwhile) {
    const std::string program = dir / "program";
    fs::create_directories(program);

    // A miss is remembered for its lifetime: installing the font does not
    // show before it ends.
    font_files::FontFinder patient(std::chrono::hours(1));
    EXPECT_EQ(patient.find("Barcode.TTF", program), "");
    write_file(fonts + "/barcode.ttf", "font");
    EXPECT_EQ(patient.find("Barcode.TTF", program), "");

    // With the lifetime over, the folders are walked again; the name is
    // matched without regard to case.
    font_files::FontFinder eager(std::chrono::seconds(0));
    EXPECT_EQ(eager.find("BARCODE.ttf", program), fonts + "/barcode.ttf");

    // A remembered file that is gone is looked for again at once.
    fs::remove(fonts + "/barcode.ttf");
    write_file(fonts + "/other/Barcode.ttf", "font");
    font_files::FontFinder finder(std::chrono::hours(1));
    EXPECT_EQ(finder.find("barcode.ttf", program), fonts + "/other/Barcode.ttf");
    fs::remove(fonts + "/other/Barcode.ttf");
    write_file(fonts + "/moved/barcode.ttf", "font");
    EXPECT_EQ(finder.find("barcode.ttf", program), fonts + "/moved/barcode.ttf");

    // The program folder comes before the system folders, on every call.
    write_file(program + "/barcode.ttf", "font");
    EXPECT_EQ(finder.find("barcode.ttf", program), program + "/barcode.ttf");
}

// The program folder is listed again only when it changed: a font put there,
// renamed or removed after a name was asked for is seen on the next call.
TEST_F(FontFinderTest, ListsTheProgramFolderAgainOnlyWhenItChanged) {
    const std::string program = dir / "program";
    fs::create_directories(program);
    write_file(program + "/Code.ttf", "font");
    auto age = [&] { fs::last_write_time(program, fs::file_time_type::clock::now() - std::chrono::hours(1)); };
    age();

    font_files::FontFinder finder(std::chrono::hours(1));
    EXPECT_EQ(finder.find("code.TTF", program), program + "/Code.ttf");
    EXPECT_EQ(finder.find("code.TTF", program), program + "/Code.ttf");
    EXPECT_EQ(finder.find("missing.ttf", program), "");
    EXPECT_EQ(finder.find("missing.ttf", program), "");
    EXPECT_EQ(finder.folder_listings(), 2);

    // Added, renamed, removed: each changes the folder, and is seen at once.
    write_file(program + "/Missing.TTF", "font");
    EXPECT_EQ(finder.find("missing.ttf", program), program + "/Missing.TTF");
    fs::rename(program + "/Code.ttf", program + "/Other.ttf");
    EXPECT_EQ(finder.find("code.TTF", program), "");
    fs::remove(program + "/Missing.TTF");
    EXPECT_EQ(finder.find("missing.ttf", program), "");

    // A font file swapped for a folder of its name is no longer a font,
    // though the folder's entries stay the same names.
    age();
    EXPECT_EQ(finder.find("other.ttf", program), program + "/Other.ttf");
    fs::remove(program + "/Other.ttf");
    fs::create_directories(program + "/Other.ttf");
    age();
    EXPECT_EQ(finder.find("other.ttf", program), "");
}

// Family names go to fontconfig (the DejaVu fonts are among the packages the
// tests need); a misspelt family is missing, not replaced by fontconfig's
// nearest font.
TEST(FontFiles, FindsAFamilyAndStyleButNoSubstitute) {
    EXPECT_FALSE(font_files::is_file_name("DejaVu Sans Mono:bold"));
    EXPECT_TRUE(font_files::is_file_name("MonoCondensed Bold.Ttf"));
    EXPECT_TRUE(font_files::is_file_name("fonts/barcode"));

    font_files::FontFinder finder(std::chrono::hours(1));
    const std::string bold = finder.find("DejaVu Sans Mono:bold", "/nonexistent");
    EXPECT_EQ(fs::path(bold).filename(), "DejaVuSansMono-Bold.ttf");
    EXPECT_EQ(fs::path(finder.find("dejavu sans mono", "/nonexistent")).filename(), "DejaVuSansMono.ttf");
    EXPECT_EQ(finder.find("DejaVu Sans Mnoo", "/nonexistent"), "");
    EXPECT_EQ(font_files::find("DejaVu Sans Mnoo:bold", "/nonexistent"), "");
    EXPECT_EQ(font_files::find("DejaVu Sans Mono:bold", "/nonexistent"), bold);

    // A file name is looked for as a file, among the fonts fontconfig knows too.
    EXPECT_EQ(font_files::find("dejavusansmono-BOLD.TTF", "/nonexistent"), bold);
}

}  // namespace
}  // namespace velarion
