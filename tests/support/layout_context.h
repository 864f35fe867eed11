// A test agent with the layout state of one message, for the routines of the
// layout and PDF layers.
#pragma once

#include "pdf/layout_state.h"
#include "support/test_support.h"

namespace velarion::testing {

struct LayoutContext : TestContext {
    using TestContext::TestContext;
    LayoutState layout;
};

}  // namespace velarion::testing
