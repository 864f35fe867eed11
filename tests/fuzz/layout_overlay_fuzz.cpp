// An overlay form drawn onto a page of a real document, which is then saved:
// the part "" is the overlay file, the named parts are the logo folder's
// files it may use (pictures, fonts); the first byte's bits give the margin
// overrides of a label.
#include <exception>

#include "fuzz_support.h"
#include "layout/overlay.h"
#include "platform/pdf/pdf_document.h"

using namespace velarion;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::Context c;
    if (size < 1) return 0;
    c.reset();
    const double left = (data[0] & 1) ? 100 : 0, top = (data[0] & 2) ? 50 : 0;
    auto parts = fuzz::split_parts(data + 1, size - 1);
    fuzz::write_parts(parts, c.logos);
    fuzz::write_bytes(c.logos + "fincatura.txt", parts[""]);
    try {
        auto doc = make_pdf_document();
        doc->SetOutputFolder(c.work);
        doc->NewPDF("Stampa");
        doc->addpage();
        OverlayState state;
        std::string file = "fincatura.txt";
        Creafincature(c.rt, state, *doc, file, left, top);
        doc->SavePDF(c.work + "fincatura.pdf");
    } catch (const std::exception&) {
        // a failure of the drawing object, as CreaPdf would report it
    }
    c.report();
    return 0;
}
