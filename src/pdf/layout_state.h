// Everything the PDF and layout routines keep per message; the scan resets it
// after each message.
#pragma once

#include "layout/barcode.h"
#include "layout/overlay.h"
#include "layout/style.h"
#include "pdf/compose_state.h"

namespace velarion {

struct LayoutState {
    StyleSettings style;
    OverlayState overlay;
    BarcodeRecord barcode;
    ComposeState compose;
};

}  // namespace velarion
