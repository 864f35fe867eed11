#include "startup/sub_main.h"

#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>

#include "platform/os/instance_lock.h"
#include "platform/os/registry.h"
#include "startup/command_line.h"
#include "startup/instance_guard.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::TempDir;
using testing::TestContext;
using testing::write_file;

TEST(SubMain, AppliesTheSwitchesOfTheFirstRead) {
    for (const char* plus : {"plus:y", "plus:Y"}) {
        TestContext t;
        Sub_Main(t.agent, getcommandline(std::string("cdo:y ") + plus, 10));
        EXPECT_TRUE(t.view.boxes.empty());
        EXPECT_TRUE(t.cfg.sw.smtp_component);
        EXPECT_TRUE(t.cfg.sw.second_instance);
    }
    TestContext t;
    Sub_Main(t.agent, getcommandline("plus:n", 10));
    EXPECT_FALSE(t.cfg.sw.second_instance);
}

TEST(SubMain, RecordsTheHost) {
    TestContext t;
    Sub_Main(t.agent, getcommandline("", 10));
    EXPECT_EQ(t.cfg.host.decimal_separator, ".");
    EXPECT_EQ(t.cfg.host.system_root, "");
    EXPECT_EQ(t.cfg.host.product_name, registry::os_pretty_name("/etc/os-release"));
    EXPECT_FALSE(t.cfg.host.program_dir.empty());
    EXPECT_EQ(t.cfg.host.program_dir.back(), '/');
}

TEST(Host, DecimalSeparatorFollowsTheNumberConversions) {
    EXPECT_EQ(decimal_separator_test(), ".");
    // Under a locale with a decimal comma, "." is the one that fails.
    for (const char* name : {"it_IT.UTF-8", "de_DE.UTF-8", "it_IT", "de_DE"}) {
        if (!std::setlocale(LC_NUMERIC, name)) continue;
        EXPECT_EQ(decimal_separator_test(), ",");
        std::setlocale(LC_NUMERIC, "C");
        return;
    }
    std::setlocale(LC_NUMERIC, "C");
}

TEST(Host, CondensedFontInProgramFolderAnyCase) {
    TempDir dir;
    EXPECT_FALSE(condensed_font_present("", dir.path()));
    write_file(dir / "MNC57__A.TTF", "font");
    EXPECT_TRUE(condensed_font_present("", dir.path()));
    TempDir root;
    write_file(root / "fonts/Mnc57__a.ttf", "font");
    EXPECT_TRUE(condensed_font_present(root.path(), "/nonexistent/"));
}

TEST(Registry, AnswersTheValuesTheAgentReads) {
    using registry::Hive;
    TempDir dir;
    write_file(dir / "os-release", "NAME=\"Debian\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
    EXPECT_EQ(registry::os_pretty_name(dir / "os-release"), "Debian GNU/Linux 12 (bookworm)");
    EXPECT_EQ(registry::os_pretty_name(dir / "none"), "");

    const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion";
    EXPECT_EQ(registry::read(Hive::LocalMachine, key, "SystemRoot", "def"), "def");
    EXPECT_EQ(registry::read(Hive::LocalMachine, "Software\\Other", "X", "def"), "def");

    write_file(dir / "velarion.ini", "[mapi]\nClient=" + std::string(300, 'm') + "\n");
    const std::string mail = "Software\\Clients\\Mail";
    EXPECT_EQ(registry::read(Hive::CurrentUser, mail, "", ".", dir / "velarion.ini"), std::string(254, 'm'));
    EXPECT_EQ(registry::read(Hive::LocalMachine, mail, "", ".", dir / "velarion.ini"), std::string(254, 'm'));
}

TEST(InstanceLock, SecondLockInAnotherProcessFails) {
    TempDir dir;
    // The work folder and the lock's folder are made when missing.
    const std::string file = dir / "work/in_lavorazione/.istanza_AB.lock";
    {
        std::string trouble;
        auto first = InstanceLock::try_acquire(file, &trouble);
        ASSERT_TRUE(first.has_value());
        EXPECT_TRUE(first->held()) << trouble;  // its folder was made
        // flock locks belong to the open file: a child process opening the file again is refused.
        pid_t pid = fork();
        if (pid == 0) _exit(InstanceLock::try_acquire(file).has_value() ? 1 : 0);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        // Another operator's lock in the same folder is free.
        EXPECT_TRUE(InstanceLock::try_acquire(dir / "work/in_lavorazione/.istanza_CD.lock").has_value());
    }
    // Released with its owner.
    EXPECT_TRUE(InstanceLock::try_acquire(file).has_value());
}

TEST(InstanceLock, AFileThatCannotBeMadeHoldsNothingAndSaysWhy) {
    TempDir dir;
    // A work folder that cannot be made (a file in its place).
    write_file(dir / "work", "");
    std::string trouble;
    auto none = InstanceLock::try_acquire(dir / "work/in_lavorazione/.istanza_AB.lock", &trouble);
    ASSERT_TRUE(none.has_value());
    EXPECT_FALSE(none->held());
    EXPECT_EQ(trouble, dir / "work/in_lavorazione/.istanza_AB.lock: Not a directory");
    std::filesystem::remove(dir / "work");
    // A link planted in a shared folder is not followed.
    std::filesystem::create_directories(dir / "work/in_lavorazione");
    std::filesystem::create_symlink(dir / "elsewhere", dir / "work/in_lavorazione/.istanza_AB.lock");
    trouble.clear();
    auto linked = InstanceLock::try_acquire(dir / "work/in_lavorazione/.istanza_AB.lock", &trouble);
    ASSERT_TRUE(linked.has_value());
    EXPECT_FALSE(linked->held());
    EXPECT_NE(trouble, "");
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
}

TEST(InstanceLock, TheOperatorCodeAsAFileNamePart) {
    EXPECT_EQ(instance_name("ab"), "AB");
    EXPECT_EQ(instance_name("TUTTI"), "TUTTI");
    EXPECT_EQ(instance_name("../x y"), "___X_Y");
}

}  // namespace
}  // namespace velarion
