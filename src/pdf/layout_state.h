// Everything the PDF and layout routines keep for one message: message
// processing makes it when the message starts and drops it with the message.
#pragma once

#include "layout/barcode.h"
#include "layout/overlay.h"
#include "layout/style.h"
#include "pdf/compose_state.h"
#include "pdf/job_setup.h"

namespace velarion {

struct LayoutState {
    StyleSettings style;
    StyleFile styles;  // loghi.ini as read for this message
    OverlayState overlay;
    BarcodeRecord barcode;
    ComposeState compose;
    FormatTables format_tables;  // "formattatesto" files as read for this message
};

}  // namespace velarion
