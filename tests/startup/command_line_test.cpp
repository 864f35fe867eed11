#include "startup/command_line.h"

#include <gtest/gtest.h>

namespace velarion {
namespace {

TEST(GetCommandLine, SplitsAtBlanksAndTabsAndFillsTenSlots) {
    auto a = getcommandline("  ope:AB\t\tini:/cfg  deb:y ", 10);
    ASSERT_EQ(a.size(), 10u);
    EXPECT_EQ(a[0], "ope:AB");
    EXPECT_EQ(a[1], "ini:/cfg");
    EXPECT_EQ(a[2], "deb:y");
    for (int i = 3; i < 10; ++i) EXPECT_EQ(a[i], "");
    // No quoting: a quoted path with a blank is two arguments.
    a = getcommandline("ini:\"/my cfg\"", 10);
    EXPECT_EQ(a[0], "ini:\"/my");
    EXPECT_EQ(a[1], "cfg\"");
}

TEST(GetCommandLine, EleventhArgumentIsIgnored) {
    std::string line;
    for (int i = 0; i < 10; ++i) line += "x" + std::to_string(i) + " ";
    line += "ope:ZZ";
    Switches sw;
    auto a = getcommandline(line, 10);
    EXPECT_EQ(a[9], "x9");
    apply_load_switches(sw, a, "/prog/");
    EXPECT_EQ(sw.ope, "");
}

TEST(FrontEndOptions, AreTakenOutBeforeTheSlots) {
    const char* argv[] = {"velarion", "ope:AB", "--headless", "ini:/c", "--once"};
    auto o = take_front_end_options(5, argv);
    EXPECT_TRUE(o.headless);
    EXPECT_TRUE(o.once);
    EXPECT_EQ(o.command_line, "ope:AB ini:/c");

    // --resubmit takes the next argument as its folder, blanks and keywords included.
    const char* again[] = {"velarion", "--resubmit", "/w/non_inviati/AB.1 ope:x", "ope:AB", "--resubmit"};
    o = take_front_end_options(5, again);
    EXPECT_EQ(o.resubmit, (std::vector<std::string>{"/w/non_inviati/AB.1 ope:x", ""}));
    EXPECT_EQ(o.command_line, "ope:AB");
}

TEST(FrontEndOptions, UnknownArgumentsAreKeptApart) {
    // An option typo and a word without any keyword are unknown; a keyword may
    // stand anywhere in its argument; Qt's own options pass with their values.
    const char* argv[] = {"velarion", "--headles", "xope:AB", "opr:CD", "-platform", "offscreen", "--status", "deb:y"};
    auto o = take_front_end_options(8, argv);
    EXPECT_EQ(o.unknown, (std::vector<std::string>{"--headles", "opr:CD", "--status"}));
    EXPECT_EQ(o.command_line, "xope:AB deb:y");
    EXPECT_FALSE(o.headless);
}

TEST(FrontEndOptions, TestMailIsTakenOutAndItsMisspellingIsUnknown) {
    const char* argv[] = {"velarion", "--test-mail", "ini:/c", "ope:AB", "--test-mails"};
    auto o = take_front_end_options(5, argv);
    EXPECT_TRUE(o.test_mail);
    EXPECT_EQ(o.command_line, "ini:/c ope:AB");
    EXPECT_EQ(o.unknown, std::vector<std::string>{"--test-mails"});
    EXPECT_NE(usage_text().find("--test-mail ini:DIR ope:OP"), std::string::npos);
}

TEST(FrontEndOptions, HelpAndVersionAreTakenOutToo) {
    const char* argv[] = {"velarion", "--version", "ope:AB", "--help", "so:1", "so:2", "so:3", "so:4", "so:5",
                          "so:6", "so:7", "so:8", "so:9"};
    auto o = take_front_end_options(13, argv);
    EXPECT_TRUE(o.help);
    EXPECT_TRUE(o.version);
    EXPECT_FALSE(o.headless);
    // They take no slot: the ten slots are filled from the other arguments.
    auto a = getcommandline(o.command_line, 10);
    EXPECT_EQ(a[0], "ope:AB");
    EXPECT_EQ(a[9], "so:9");
    EXPECT_EQ(version_line(), std::string("velarion (Velarion) ") + VELARION_VERSION + "\n");
    EXPECT_EQ(usage_text().rfind("Usage: velarion ", 0), 0u);
}

TEST(Switches, MainSwitchesIgnoreCase) {
    Switches sw;
    apply_main_switches(sw, getcommandline("plus:y cdo:y", 10));
    EXPECT_TRUE(sw.second_instance);
    EXPECT_TRUE(sw.smtp_component);
    apply_main_switches(sw, getcommandline("plus:n cdo:si", 10));
    EXPECT_FALSE(sw.second_instance);
    EXPECT_FALSE(sw.smtp_component);
}

TEST(Switches, DefaultsBeforeTheLoop) {
    Switches sw;
    sw.internal_client = false;
    sw.ope2 = "old";
    sw.run_at_start = false;
    apply_load_switches(sw, getcommandline("ope:AB", 10), "/prog/");
    EXPECT_TRUE(sw.internal_client);
    EXPECT_EQ(sw.ini, "/prog/");
    EXPECT_EQ(sw.ope2, "");
    EXPECT_TRUE(sw.run_at_start);
    EXPECT_FALSE(sw.ini_given);
}

TEST(Switches, KeywordAnywhereCutsTheFirstCharacters) {
    Switches sw;
    apply_load_switches(sw, getcommandline("xini:C:\\cfg", 10), "/prog/");
    EXPECT_EQ(sw.ini, ":C:\\cfg");  // "xini" cut: the keyword's length, from the start
    // "so:" cuts three characters, "plus:" five.
    apply_load_switches(sw, getcommandline("so:aix", 10), "/prog/");
    EXPECT_TRUE(sw.aix);
    apply_main_switches(sw, getcommandline("--plus:y", 10));
    EXPECT_FALSE(sw.second_instance);  // the value is "S:Y"
}

TEST(Switches, CaseOfValuesAndKeywords) {
    Switches sw;
    apply_load_switches(sw, getcommandline("ope:ab deb:y fax:pro acc:y int:n run:Y so:x", 10), "/p/");
    EXPECT_EQ(sw.ope, "ab");  // as typed
    EXPECT_TRUE(sw.debug());
    EXPECT_TRUE(sw.fax_label);
    EXPECT_TRUE(sw.own_credentials);
    EXPECT_FALSE(sw.internal_client);
    EXPECT_FALSE(sw.run_at_start);  // as typed: only "y" starts the agent
    EXPECT_FALSE(sw.aix);
    // Keywords are matched with case: "OPE:" is not "ope:".
    apply_load_switches(sw, getcommandline("OPE:CD", 10), "/p/");
    EXPECT_EQ(sw.ope, "ab");
}

TEST(Switches, OperatorPairAndLaterArgumentWins) {
    Switches sw;
    apply_load_switches(sw, getcommandline("ope:AB;CD", 10), "/p/");
    EXPECT_EQ(sw.ope, "AB");
    EXPECT_EQ(sw.ope2, "CD");
    apply_load_switches(sw, getcommandline("ope:AB ini:/a ope:XY ini:/b", 10), "/p/");
    EXPECT_EQ(sw.ope, "XY");
    EXPECT_EQ(sw.ini, "/b");
    // One argument may carry several keywords.
    apply_load_switches(sw, getcommandline("ope:deb:y", 10), "/p/");
    EXPECT_EQ(sw.ope, "deb:y");
    EXPECT_FALSE(sw.debug());  // the value is "DEB:Y"
}

TEST(Switches, EmptyIniValue) {
    Switches sw;
    apply_load_switches(sw, getcommandline("ope:AB ini:", 10), "/p/");
    EXPECT_TRUE(sw.ini_given);
    EXPECT_EQ(sw.ini, "");
}

}  // namespace
}  // namespace velarion
