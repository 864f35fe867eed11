#include "startup/component_check.h"

#include "platform/pdf/pdf_document.h"
#include "platform/pdf/pdf_merge.h"
#include "startup/agent.h"

namespace velarion {

// The drawing (XP edition) and merging libraries are linked into the
// program: each is checked by creating it once. Nothing needs registering,
// and there is no second edition to fall back on.
void controllo_dll(Agent& a) {
    // No edition chosen yet.
    a.settings.pdf.ocx_edition = false;
    a.settings.pdf.xp_edition = false;
    a.settings.pdf.merge = false;

    // Merging, when the merging component is usable.
    if (pdf_merge::available()) {
        a.list.add(" Abilitata funzione merge");
        a.settings.pdf.merge = true;
    }

    // The drawing component: a failure to create it ends the load step
    // through its error handling, with the error's description.
    make_pdf_document();
    a.settings.pdf.xp_edition = true;
}

}  // namespace velarion
