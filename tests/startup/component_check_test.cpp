#include "startup/component_check.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace velarion {
namespace {

TEST(ControlloDll, ReportsTheLinkedEditionAndMerging) {
    testing::TestContext t;
    t.cfg.pdf.ocx_edition = true;  // whatever an earlier check left
    t.cfg.host.condensed_font = true;
    controllo_dll(t.agent);
    EXPECT_TRUE(t.cfg.pdf.xp_edition);
    EXPECT_FALSE(t.cfg.pdf.ocx_edition);
    EXPECT_TRUE(t.cfg.pdf.merge);
    // The monospaced fonts stay usable: the drawing component registers them.
    EXPECT_EQ(t.cfg.host.condensed_font, true);
    ASSERT_EQ(t.list.size(), 1u);
    EXPECT_EQ(t.list.lines()[0], "07/12/2026 10:30:00 Abilitata funzione merge");
    EXPECT_TRUE(t.view.boxes.empty());
}

}  // namespace
}  // namespace velarion
