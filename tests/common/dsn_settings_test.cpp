// Section DSN of velarion.ini: NOTIFY values as RFC 3461 allows them, the
// days the record is kept, and what is done with a text that is none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/dsn_settings.h"

namespace velarion {
namespace {

TEST(DsnSettings, NotifyAndDaysAsWrittenOrTheirDefaults) {
    std::vector<std::string> problems;
    const DsnProblem note = [&](const std::string& key, const std::string& value, const std::string&) {
        problems.push_back(key + "=" + value);
    };
    EXPECT_EQ(parse_dsn_settings({}, note).notify, "FAILURE,DELAY");
    EXPECT_EQ(parse_dsn_settings({}, note).days, 30);
    EXPECT_EQ(parse_dsn_settings({" never ", "", "", ""}, note).notify, "NEVER");
    EXPECT_EQ(parse_dsn_settings({"success, failure", "", "7", ""}, note).notify, "SUCCESS,FAILURE");
    EXPECT_EQ(parse_dsn_settings({"", "", "7", ""}, note).days, 7);
    EXPECT_TRUE(problems.empty());
    // NEVER with another word, a word twice, an unknown word, days out of range.
    for (const char* bad : {"NEVER,FAILURE", "DELAY,DELAY", "BOUNCE", "FAILURE,"})
        EXPECT_EQ(parse_dsn_settings({bad, "", "", ""}, note).notify, "FAILURE,DELAY") << bad;
    for (const char* bad : {"0", "3651", "trenta", "7d"})
        EXPECT_EQ(parse_dsn_settings({"", "", bad, ""}, note).days, 30) << bad;
    EXPECT_EQ(problems.size(), 8u);
    const DsnSettings s = parse_dsn_settings({"", " /srv/posta/rapporti ", "", " /usr/bin/avvisa -x "}, note);
    EXPECT_EQ(s.mailbox, "/srv/posta/rapporti");
    EXPECT_EQ(s.on_bounce, "/usr/bin/avvisa -x");
}

}  // namespace
}  // namespace velarion
