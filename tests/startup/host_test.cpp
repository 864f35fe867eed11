#include "startup/sub_main.h"

#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>

#include <gtest/gtest.h>

#include "platform/os/instance_lock.h"
#include "platform/os/registry.h"
#include "startup/command_line.h"
#include "support/test_support.h"

namespace velarion {
namespace {

using testing::TempDir;
using testing::TestContext;
using testing::write_file;

struct FakeGuard : InstanceGuard {
    bool running = false;
    int raised = 0;
    bool another_running() override { return running; }
    void raise_other() override { ++raised; }
};

TEST(SubMain, SecondInstanceIsRefusedUnlessPlusY) {
    for (const char* plus : {"", "plus:n"}) {
        TestContext t;
        FakeGuard g;
        g.running = true;
        EXPECT_FALSE(Sub_Main(t.agent, getcommandline(plus, 10), g));
        ASSERT_EQ(t.view.boxes.size(), 1u);
        EXPECT_EQ(t.view.boxes[0], "Programma gia' in esecuzione");
        EXPECT_EQ(g.raised, 1);
        EXPECT_EQ(t.cfg.host.product_name, "");  // ended before the host was read
    }
    for (const char* plus : {"plus:y", "plus:Y"}) {
        TestContext t;
        FakeGuard g;
        g.running = true;
        EXPECT_TRUE(Sub_Main(t.agent, getcommandline(std::string("cdo:y ") + plus, 10), g));
        EXPECT_TRUE(t.view.boxes.empty());
        EXPECT_TRUE(t.cfg.sw.smtp_component);
    }
}

TEST(SubMain, RecordsTheHost) {
    TestContext t;
    FakeGuard g;
    ASSERT_TRUE(Sub_Main(t.agent, getcommandline("", 10), g));
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
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    {
        auto first = InstanceLock::try_acquire();
        ASSERT_TRUE(first.has_value());
        // flock locks belong to the open file: a child process opening the file again is refused.
        pid_t pid = fork();
        if (pid == 0) _exit(InstanceLock::try_acquire().has_value() ? 1 : 0);
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_FALSE(InstanceLock::request_raise());  // nobody listens
    }
    // Released with its owner.
    EXPECT_TRUE(InstanceLock::try_acquire().has_value());
    if (old) {
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    } else {
        unsetenv("XDG_RUNTIME_DIR");
    }
}

}  // namespace
}  // namespace velarion
