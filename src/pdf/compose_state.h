// Per-message state of the PDF composition, reset after every message.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velarion {

class PdfDocument;

// A logo picture imported into the current document, with the position read
// once from its style section ("altezza", "larghezza", "margsx", "margbasso").
struct LogoImage {
    std::string resource;
    std::string section;
    std::string altezza, larghezza, margsx, margbasso;
};

struct ComposeState {
    std::string created_pdf;  // path of the PDF the last CreaPdf call made

    // Filled by the line loop, used when the document is saved.
    std::vector<std::string> merge_list;  // "///M" lines, at most 10
    std::string lsfilecrea;               // "CREAFILE:" copy target

    // "///C" size override of normal and condensed text; kept across style loads.
    std::string size_override_normal;
    std::string size_override_condensed;

    // Logos of the current style in the current document.
    std::vector<LogoImage> logos;
    // Fonts already registered in the current document (barcode fonts).
    std::vector<std::string> registered_fonts;
    // Monospaced font used for text: 0 none, 1 "MonoCondensedATT Bold", 2 "MonoCondensed Bold".
    int mono_font = 0;

    // Makes the drawing object of each document; empty means make_pdf_document().
    std::function<std::unique_ptr<PdfDocument>()> make_document;
};

}  // namespace velarion
