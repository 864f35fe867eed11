// The desktop's remembered installation: when it is asked for, what can be
// kept, and the file velarion-desktop reads.
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "startup/desktop_env.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::read_file;
using testing::write_file;

TEST(DesktopEnv, AskedOnlyWithoutAnyConfiguration) {
    testing::TempDir dir;
    const std::string prog = dir / "prog/";
    std::filesystem::create_directories(prog);
    EXPECT_TRUE(desktop_env::configuration_missing("", prog));
    EXPECT_TRUE(desktop_env::configuration_missing("ope:AB", prog));
    EXPECT_FALSE(desktop_env::configuration_missing("ope:AB ini:/srv/velarion", prog));
    write_file(prog + "Velarion.INI", "[AB]\n");  // any spelling, as the load step finds it
    EXPECT_FALSE(desktop_env::configuration_missing("", prog));
}

TEST(DesktopEnv, RemembersTheChoiceQuotedAndKeepsOtherLines) {
    testing::TempDir dir;
    const std::string cfg = dir / "cfg", ini = dir / "inst";
    std::filesystem::create_directories(ini);
    EXPECT_NE(desktop_env::unusable(ini, "AB"), "");  // no velarion.ini there
    write_file(ini + "/velarion.ini", "[AB]\n");
    EXPECT_EQ(desktop_env::unusable(ini, "AB"), "");
    EXPECT_NE(desktop_env::unusable(dir / "con spazi", "AB"), "");  // the command line cannot carry it
    EXPECT_NE(desktop_env::unusable(ini, ""), "");
    EXPECT_NE(desktop_env::unusable(ini, "A'B"), "");

    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_CONFIG_HOME", cfg.c_str(), 1);
    EXPECT_EQ(desktop_env::path(), cfg + "/velarion/desktop.env");
    std::filesystem::create_directories(cfg + "/velarion");
    write_file(cfg + "/velarion/desktop.env", "VELARION_OPE=XY\nVELARION_ARGS=cdo:Y\n");
    ASSERT_TRUE(desktop_env::remember(ini, "AB"));
    EXPECT_EQ(read_file(cfg + "/velarion/desktop.env"),
              "VELARION_OPE='AB'\nVELARION_INI='" + ini + "'\nVELARION_ARGS=cdo:Y\n");
    if (old) setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace velarion
