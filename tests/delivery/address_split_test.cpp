#include "delivery/address_split.h"

#include <gtest/gtest.h>

#include "platform/mail/mail.h"

namespace velarion {
namespace {

TEST(DividiIndirizzi, EmptyPartsKeepTheirPlaceAndTrailingSeparatorAddsNothing) {
    Destinatari a;
    a[3] = "left over";
    DividiIndirizzi(a, "a@x.it;;b@x.it;", ';');
    EXPECT_EQ(a[1], "a@x.it");
    EXPECT_EQ(a[2], "");
    EXPECT_EQ(a[3], "b@x.it");
    EXPECT_EQ(a[4], "");
    DividiIndirizzi(a, "solo@x.it", ';');
    EXPECT_EQ(a[1], "solo@x.it");
    EXPECT_EQ(a[3], "");  // cleared from the previous call
}

TEST(DividiIndirizzi, FifteenPartsFitASixteenthIsAnError) {
    std::string fifteen, sixteen;
    for (int i = 1; i <= 15; ++i) fifteen += "u" + std::to_string(i) + "@x.it;";
    Destinatari a;
    DividiIndirizzi(a, fifteen, ';');
    EXPECT_EQ(a[15], "u15@x.it");
    sixteen = fifteen + "u16@x.it";
    try {
        DividiIndirizzi(a, sixteen, ';');
        FAIL() << "no error for a sixteenth part";
    } catch (const NumberedError& e) {
        EXPECT_EQ(e.number(), 9);
    }
    // Sixteen separators make sixteen parts, empty ones included.
    EXPECT_THROW(DividiIndirizzi(a, std::string(16, ';'), ';'), NumberedError);
}

}  // namespace
}  // namespace velarion
