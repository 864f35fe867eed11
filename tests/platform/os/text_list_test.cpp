#include "platform/os/text_list.h"

#include <gtest/gtest.h>

namespace velarion {
namespace {

using List = std::vector<std::string>;

TEST(TextList, SplitKeepsEveryEntryAndEntriesOnlyTheFilledOnes) {
    EXPECT_EQ(text::split("a@x.it;;b@x.it;", ';'), (List{"a@x.it", "", "b@x.it", ""}));
    EXPECT_EQ(text::split("", ';'), (List{""}));
    // Other separators are text like any other.
    EXPECT_EQ(text::split("Rossi, Mario <m@x.it>;listino:2027", ';'), (List{"Rossi, Mario <m@x.it>", "listino:2027"}));
    EXPECT_EQ(text::entries(" /srv/a ; ;/srv/b;", ';'), (List{"/srv/a", "/srv/b"}));
    EXPECT_TRUE(text::entries(" ; ", ';').empty());
}

}  // namespace
}  // namespace velarion
