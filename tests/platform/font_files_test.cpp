#include "platform/font_files.h"

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

}  // namespace
}  // namespace velarion
